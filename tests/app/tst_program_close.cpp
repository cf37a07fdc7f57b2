#include <xcb/xcb.h>

#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "temp_cwd.h"
#include "virtual_display.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t Atom(xcb_connection_t* x, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, std::strlen(name), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

QByteArray Property(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
    if (!reply) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

// The program's viewable top-level window; there is no window manager, so top-level windows
// are the root's children.
xcb_window_t FindProgramWindow(xcb_connection_t* x, xcb_window_t root) {
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr));
    if (!tree) return XCB_WINDOW_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, children[i]), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        if (Property(x, children[i], XCB_ATOM_WM_CLASS).startsWith("norva-protocol")) {
            return children[i];
        }
    }
    return XCB_WINDOW_NONE;
}

}  // namespace

// The real program in a real window: its title as the window system sees it, and the close box.
// Closing sends WM_DELETE_WINDOW, which is exactly what a window manager sends when the operator
// clicks the close box; the program then has to end by itself, with status 0 and no question.
class ProgramCloseTest : public QObject {
    Q_OBJECT

private slots:
    void closeBoxEndsTheProgramWithStatusZero() {
        if (!VirtualDisplay::Available()) QSKIP("Xvfb is not installed");
        VirtualDisplay display;
        QVERIFY(display.ok());
        TempCwd cwd;
        WriteFileBytes("BILLVALUE.TXT", "1\r\n2\r\n3\r\n");  // no error box in the way

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display.name());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(cwd.path());
        DiesWithTest(program);
        program.start(QStringLiteral(NORVA_PROTOCOL_BINARY), {});
        QVERIFY(program.waitForStarted());

        int screenNumber = 0;
        xcb_connection_t* x = xcb_connect(display.name().toLatin1().constData(), &screenNumber);
        QVERIFY(x != nullptr && xcb_connection_has_error(x) == 0);
        const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(
            x, xcb_disconnect);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        const xcb_window_t root = screens.data->root;

        xcb_window_t window = XCB_WINDOW_NONE;
        QTRY_VERIFY_WITH_TIMEOUT((window = FindProgramWindow(x, root)) != XCB_WINDOW_NONE, 20000);
        QCOMPARE(Property(x, window, XCB_ATOM_WM_NAME), QByteArrayLiteral("Norva Protocol"));
        QCOMPARE(Property(x, window, Atom(x, "_NET_WM_NAME")), QByteArrayLiteral("Norva Protocol"));
        // The class names the task-bar entry: the application title, trailing blank included.
        QCOMPARE(Property(x, window, XCB_ATOM_WM_CLASS),
                 QByteArrayLiteral("norva-protocol\0Norva Protocol \0"));

        const xcb_atom_t protocols = Atom(x, "WM_PROTOCOLS");
        const xcb_atom_t deleteWindow = Atom(x, "WM_DELETE_WINDOW");
        const QByteArray offered = Property(x, window, protocols);
        const auto* atoms = reinterpret_cast<const xcb_atom_t*>(offered.constData());
        QVERIFY(std::find(atoms, atoms + offered.size() / sizeof(xcb_atom_t), deleteWindow) !=
                atoms + offered.size() / sizeof(xcb_atom_t));

        xcb_client_message_event_t close{};
        close.response_type = XCB_CLIENT_MESSAGE;
        close.format = 32;
        close.window = window;
        close.type = protocols;
        close.data.data32[0] = deleteWindow;
        close.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&close));
        xcb_flush(x);

        // A question or a message would keep the program waiting here.
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(ProgramCloseTest)
#include "tst_program_close.moc"
