// The smallest Qt Widgets host: the control created by name, signed on late-bound, its
// events shown by number. Usage: ondrel_minimal_widget HOST PORT NAME PASSWORD
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include "ondrel/component.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5)
        return 2;
    QString error;
    lantry::ControlObject* control = lantry::createObject(lantry::kOndrelProgId, &error);
    if (!control) {
        qWarning("%s (run: ondrel register)", qPrintable(error));
        return 1;
    }
    QWidget window;
    auto* status = new QLabel(QStringLiteral("Signing on..."));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(control->widget());  // the window owns the control from here
    layout->addWidget(status);
    control->connectEvents([status](int number, QVariantList& args) {
        status->setText(QStringLiteral("Event %1: %2").arg(number).arg(args.value(0).toString()));
    });
    const QStringList arg = QApplication::arguments();
    control->call(lantry::DispId::Login, {arg[3], arg[4], arg[1], arg[2]});
    window.show();
    return app.exec();
}
