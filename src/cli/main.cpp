#include "cli/CliProgram.h"
#include "platform/ClipboardKeeper.h"
#include "platform/ProcessProtection.h"
#include "platform/TerminationSignals.h"
#include "upload/Askpass.h"

#include <cstdlib>

// "quaddle-cli WORDS" is "quaddle --cli WORDS" without the windows' libraries.
int main(int argc, char** argv) {
    if (const auto status = quaddle::runAskpassWhenAsked(argc, argv))
        return *status;
    if (const auto status = quaddle::serveClipboardWhenAsked(argc, argv))
        return *status;
    if (quaddle::printedVersion(argc, argv))
        return EXIT_SUCCESS;
    quaddle::keepSecretsOutOfCoreDumps();
    quaddle::catchTerminationSignals();
    return quaddle::runWithoutWindows(argc, argv, 1);
}
