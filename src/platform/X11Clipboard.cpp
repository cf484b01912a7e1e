#include "platform/X11Clipboard.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace quaddle {

namespace {

// How long a clipboard manager may take to save the text before the keeper serves it itself.
constexpr int ManagerMs = 5000;
// The keeper's first word to the caller: it owns the clipboard. Anything else says why not.
constexpr char Owned = '+';

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using XcbPointer = std::unique_ptr<T, FreeDeleter>;
using XcbEvent = XcbPointer<xcb_generic_event_t>;

QByteArray readToEnd(int descriptor) {
    QByteArray bytes;
    char buffer[65536];
    ssize_t count;
    while ((count = ::read(descriptor, buffer, sizeof buffer)) != 0) {
        if (count > 0)
            bytes.append(buffer, count);
        else if (errno != EINTR)
            break;
    }
    return bytes;
}

void writeAll(int descriptor, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t count =
            ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (count < 0 && errno != EINTR)
            return;
        done += std::max<ssize_t>(count, 0);
    }
}

// Owns the CLIPBOARD selection on one display connection and answers the requests for it.
class X11ClipboardOwner {
public:
    explicit X11ClipboardOwner(QByteArray text) : m_text(std::move(text)) {}
    ~X11ClipboardOwner() {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    X11ClipboardOwner(const X11ClipboardOwner&) = delete;
    X11ClipboardOwner& operator=(const X11ClipboardOwner&) = delete;

    // Connects to the display and takes the clipboard; why it could not, or nothing.
    std::optional<QString> takeClipboard();
    // Hands the text to a clipboard manager, or serves it until another program owns the
    // clipboard or the display is gone.
    void serve();

private:
    xcb_atom_t atom(const char* name);
    xcb_window_t selectionOwner(xcb_atom_t selection);
    xcb_timestamp_t serverTime();
    // The next event, or none when the deadline passed or the connection broke.
    XcbEvent nextEvent(QDeadlineTimer deadline);
    void answer(const xcb_selection_request_event_t& request);
    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property);
    void setProperty(const xcb_selection_request_event_t& request, xcb_atom_t property,
                     xcb_atom_t type, const QByteArray& bytes);

    const QByteArray m_text;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_window = XCB_NONE;
    xcb_timestamp_t m_since = XCB_CURRENT_TIME;
    xcb_atom_t m_clipboard = XCB_NONE;
    xcb_atom_t m_targets = XCB_NONE;
    xcb_atom_t m_utf8String = XCB_NONE;
    xcb_atom_t m_textTarget = XCB_NONE;
    xcb_atom_t m_manager = XCB_NONE;
    xcb_atom_t m_saveTargets = XCB_NONE;
    xcb_atom_t m_property = XCB_NONE;
};

std::optional<QString> X11ClipboardOwner::takeClipboard() {
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return QStringLiteral("The display \"%1\" cannot be reached.")
            .arg(qEnvironmentVariable("DISPLAY"));
    // Without the incremental transfer a text must fit one request.
    if (qint64(m_text.size()) + 64 > qint64(xcb_get_maximum_request_length(m_connection)) * 4)
        return QStringLiteral("The text is too long for the clipboard.");
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    m_window = xcb_generate_id(m_connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screens.data->root, 0, 0, 1, 1,
                      0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    m_clipboard = atom("CLIPBOARD");
    m_targets = atom("TARGETS");
    m_utf8String = atom("UTF8_STRING");
    m_textTarget = atom("TEXT");
    m_manager = atom("CLIPBOARD_MANAGER");
    m_saveTargets = atom("SAVE_TARGETS");
    m_property = atom("QUADDLE_CLIPBOARD");
    m_since = serverTime();
    xcb_set_selection_owner(m_connection, m_window, m_clipboard, m_since);
    if (selectionOwner(m_clipboard) != m_window)
        return QStringLiteral("The clipboard could not be taken.");
    return std::nullopt;
}

void X11ClipboardOwner::serve() {
    // A clipboard manager keeps the text from then on; the keeper is needed only until it has.
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    if (selectionOwner(m_manager) != XCB_NONE) {
        xcb_convert_selection(m_connection, m_window, m_manager, m_saveTargets, m_property,
                              m_since);
        xcb_flush(m_connection);
        deadline.setRemainingTime(ManagerMs);
    }
    for (;;) {
        const XcbEvent event = nextEvent(deadline);
        if (!event) {
            if (xcb_connection_has_error(m_connection) || !deadline.hasExpired())
                return;
            // The manager did not answer: the text stays here.
            deadline = QDeadlineTimer(QDeadlineTimer::Forever);
            continue;
        }
        switch (event->response_type & 0x7F) {
        case XCB_SELECTION_REQUEST:
            answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event.get()));
            break;
        case XCB_SELECTION_CLEAR:
            return;
        case XCB_SELECTION_NOTIFY:
            if (reinterpret_cast<const xcb_selection_notify_event_t*>(event.get())->property !=
                XCB_NONE)
                return;
            deadline = QDeadlineTimer(QDeadlineTimer::Forever);
            break;
        default:
            break;
        }
    }
}

xcb_atom_t X11ClipboardOwner::atom(const char* name) {
    const XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : XCB_NONE;
}

xcb_window_t X11ClipboardOwner::selectionOwner(xcb_atom_t selection) {
    const XcbPointer<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, selection), nullptr));
    return reply ? reply->owner : XCB_NONE;
}

// Owning a selection "since now" would let a late request of an earlier owner's time through:
// the server's time comes with the notice of a property change.
xcb_timestamp_t X11ClipboardOwner::serverTime() {
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_window, m_property, XCB_ATOM_STRING,
                        8, 0, nullptr);
    xcb_flush(m_connection);
    while (const XcbEvent event{xcb_wait_for_event(m_connection)})
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY)
            return reinterpret_cast<const xcb_property_notify_event_t*>(event.get())->time;
    return XCB_CURRENT_TIME;
}

XcbEvent X11ClipboardOwner::nextEvent(QDeadlineTimer deadline) {
    for (;;) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            return XcbEvent(event);
        if (xcb_connection_has_error(m_connection) || deadline.hasExpired())
            return nullptr;
        pollfd display{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        if (::poll(&display, 1, int(deadline.remainingTime())) < 0 && errno != EINTR)
            return nullptr;
    }
}

void X11ClipboardOwner::answer(const xcb_selection_request_event_t& request) {
    // Clients older than the conventions name no property: the target stands for it.
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    const bool owned = request.selection == m_clipboard &&
                       (request.time == XCB_CURRENT_TIME || request.time >= m_since);
    if (owned && request.target == m_targets) {
        const xcb_atom_t targets[] = {m_targets, m_utf8String, m_textTarget, XCB_ATOM_STRING};
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                            XCB_ATOM_ATOM, 32, std::size(targets), targets);
    } else if (owned && (request.target == m_utf8String || request.target == m_textTarget)) {
        setProperty(request, property, m_utf8String, m_text);
    } else if (owned && request.target == XCB_ATOM_STRING) {
        setProperty(request, property, XCB_ATOM_STRING, QString::fromUtf8(m_text).toLatin1());
    } else {
        notify(request, XCB_NONE);
        return;
    }
    notify(request, property);
}

void X11ClipboardOwner::setProperty(const xcb_selection_request_event_t& request,
                                    xcb_atom_t property, xcb_atom_t type, const QByteArray& bytes) {
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property, type, 8,
                        uint32_t(bytes.size()), bytes.constData());
}

void X11ClipboardOwner::notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t notice{};
    notice.response_type = XCB_SELECTION_NOTIFY;
    notice.time = request.time;
    notice.requestor = request.requestor;
    notice.selection = request.selection;
    notice.target = request.target;
    notice.property = property;
    xcb_send_event(m_connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notice));
    xcb_flush(m_connection);
}

// The keeper outlives the caller: it leaves its session and terminal, holds none of its files
// and no folder that would keep a disk from being unmounted. Standard output stays the channel
// to the caller.
bool leaveCaller(int toCaller) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(toCaller, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close_range(3, ~0U, 0);
    if (::chdir("/") == 0)
        return true;
    writeAll(STDOUT_FILENO, "The clipboard keeper cannot leave its folder.");
    return false;
}

int keep(const QByteArray& text) {
    X11ClipboardOwner owner(text);
    if (const std::optional<QString> problem = owner.takeClipboard()) {
        writeAll(STDOUT_FILENO, problem->toLocal8Bit());
        return EXIT_FAILURE;
    }
    writeAll(STDOUT_FILENO, QByteArray(1, Owned));
    ::dup2(STDIN_FILENO, STDOUT_FILENO);
    owner.serve();
    return EXIT_SUCCESS;
}

} // namespace

int detachAndServeX11Clipboard() {
    const QByteArray text = readToEnd(STDIN_FILENO);
    int channel[2];
    if (::pipe(channel) != 0) {
        std::fprintf(stderr, "The clipboard keeper cannot start: %s\n", std::strerror(errno));
        return EXIT_FAILURE;
    }
    const pid_t keeper = ::fork();
    if (keeper == 0) {
        ::close(channel[0]);
        // Nothing of the caller's process is left to tidy up.
        std::_Exit(leaveCaller(channel[1]) ? keep(text) : EXIT_FAILURE);
    }
    ::close(channel[1]);
    const QByteArray answer = keeper < 0 ? QByteArray(std::strerror(errno)) : readToEnd(channel[0]);
    ::close(channel[0]);
    if (answer.startsWith(Owned))
        return EXIT_SUCCESS;
    std::fprintf(stderr, "%s\n",
                 answer.isEmpty() ? "The clipboard keeper ended early." : answer.constData());
    return EXIT_FAILURE;
}

} // namespace quaddle
