#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Norva Protocol");
    window.setFixedSize(817, 397);
    window.show();
    return app.exec();
}
