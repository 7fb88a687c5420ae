// Embeds the Ondrel control in a window the way any host does: create it by programmatic
// identifier through the registration record (run `ondrel register` once), place its face,
// call members by dispatch identifier with QVariant arguments and listen to events by number.
#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

#include "ondrel/component.h"
#include "ondrel/events.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    QString error;
    lantry::ControlObject* control = lantry::createObject(QStringLiteral("Lantry.Ondrel"), &error);
    if (!control) {
        std::fprintf(stderr,
                     "Cannot create Lantry.Ondrel: %s\nRegister it with `ondrel register`.\n",
                     qPrintable(error));
        return 1;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Ondrel host"));
    auto* name = new QLineEdit;
    auto* password = new QLineEdit;
    password->setEchoMode(QLineEdit::Password);
    auto* server = new QLineEdit(QStringLiteral("127.0.0.1"));
    auto* port = new QLineEdit(QStringLiteral("5190"));
    auto* signOn = new QPushButton(QStringLiteral("Sign on"));
    auto* signOff = new QPushButton(QStringLiteral("Sign off"));
    auto* status = new QLabel(QStringLiteral("Idle"));
    auto* log = new QPlainTextEdit;
    log->setReadOnly(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Screen name"), name);
    form->addRow(QStringLiteral("Password"), password);
    form->addRow(QStringLiteral("Server"), server);
    form->addRow(QStringLiteral("Port"), port);
    auto* layout = new QVBoxLayout(&window);
    // The window takes ownership of the control; it keeps its own 125 x 37 size.
    layout->addWidget(control->widget());
    layout->addLayout(form);
    layout->addWidget(signOn);
    layout->addWidget(signOff);
    layout->addWidget(status);
    layout->addWidget(log);

    const auto report = [log, status](const lantry::DispatchResult& r) {
        if (!r.ok())
            status->setText(QStringLiteral("Error: ") + r.description);
        else
            log->appendPlainText(QStringLiteral("ok"));
    };
    QObject::connect(signOn, &QPushButton::clicked, [=] {
        // The port goes as text; the control converts it.
        report(control->call(lantry::DispId::Login,
                             {name->text(), password->text(), server->text(), port->text()}));
    });
    QObject::connect(signOff, &QPushButton::clicked,
                     [=] { report(control->call(lantry::DispId::LogOff)); });

    control->connectEvents([log, status](int number, QVariantList& args) {
        using lantry::EventNumber;
        switch (static_cast<EventNumber>(number)) {
            case EventNumber::LoggedIn:
                status->setText(QStringLiteral("Signed on as ") + args[0].toString());
                break;
            case EventNumber::LoggedOut:
                status->setText(QStringLiteral("Signed off"));
                break;
            case EventNumber::Error:
            case EventNumber::WinsockError:
                status->setText(args.last().toString());
                break;
            case EventNumber::IncomingPacket:
                return;
            default:
                break;
        }
        QStringList shown;
        for (const QVariant& a : args) {
            // LoggedIn's buddy, block, permit and other lists arrive as QStringList.
            shown << (a.metaType().id() == QMetaType::QStringList
                          ? QStringLiteral("[%1]").arg(a.toStringList().join(u", "))
                          : a.toString());
        }
        log->appendPlainText(QStringLiteral("event %1: %2").arg(number).arg(shown.join(u" | ")));
    });

    window.resize(360, 480);
    window.show();
    return app.exec();
}
