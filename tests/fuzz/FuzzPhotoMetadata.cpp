// Taking the location and camera data out of arbitrary bytes as a JPEG, PNG, WebP or GIF file.
// It either gives a file of the same kind, which holds nothing more to take out, or throws its
// error; it never crashes.
#include "platform/Error.h"
#include "thumbs/PhotoMetadata.h"

#include <cstdint>
#include <cstdlib>

using namespace quaddle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView photo(data, qsizetype(size));
    const PhotoKind kind = photoKindOf(photo);
    if (kind == PhotoKind::Plain || kind == PhotoKind::Unstrippable)
        return 0;
    try {
        const QByteArray stripped = photoWithoutMetadata(kind, photo);
        if (photoKindOf(stripped) != kind || photoWithoutMetadata(kind, stripped) != stripped)
            std::abort();
    } catch (const Error&) {
        // A clear refusal is the expected answer to most inputs.
    }
    return 0;
}
