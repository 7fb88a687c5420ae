// The registration record, the class factory, the four entry points and creation by
// programmatic identifier.
#include <dlfcn.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QSettings>
#include <QStandardPaths>

#include "ondrel_control.h"

namespace lantry {

namespace {

QString braced(const QUuid& id) {
    return id.toString(QUuid::WithBraces);
}

QString classGroup() {
    return QStringLiteral("CLSID/") + braced(kOndrelClassId);
}
QString typeLibraryGroup() {
    return QStringLiteral("TypeLib/") + braced(kTypeLibraryId);
}
QString interfaceGroup(const QUuid& id) {
    return QStringLiteral("Interface/") + braced(id);
}
QString progIdGroup() {
    return QStringLiteral("ProgID/") + QLatin1String(kOndrelProgId);
}

// The file this code was loaded from, as the dynamic loader knows it.
QString libraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DllGetClassObject), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

bool writeRecord(QSettings& settings) {
    settings.sync();
    return settings.status() == QSettings::NoError;
}

class OndrelFactory final : public ClassFactory {
public:
    ControlObject* createInstance(QWidget* parent) override {
        // A widget needs a QApplication; without one there is no control to make.
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return nullptr;
        return new OndrelControl(parent);
    }
};

OndrelFactory factory;

}  // namespace

QString registryFile() {
    const QString fromEnvironment = qEnvironmentVariable(kRegistryEnvironmentVariable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Lantry/components.ini");
}

ControlObject* createObject(const QString& progId, QString* error, QWidget* parent) {
    const auto fail = [error](const QString& why) -> ControlObject* {
        if (error)
            *error = why;
        return nullptr;
    };
    const QString file = registryFile();
    if (!QFileInfo::exists(file))
        return fail(QStringLiteral("No registration record at %1").arg(file));
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("ProgID"));
    QString classId;
    // Programmatic identifiers are not case-sensitive.
    for (const QString& name : settings.childGroups()) {
        if (name.compare(progId, Qt::CaseInsensitive) == 0) {
            classId = settings.value(name + QStringLiteral("/CLSID")).toString();
            break;
        }
    }
    settings.endGroup();
    if (classId.isEmpty())
        return fail(QStringLiteral("\"%1\" is not registered in %2").arg(progId, file));
    const QString library =
        settings.value(QStringLiteral("CLSID/%1/Library").arg(classId)).toString();
    if (library.isEmpty())
        return fail(
            QStringLiteral("Class %1 of \"%2\" has no library in %3").arg(classId, progId, file));

    QLibrary lib(library);
    if (!lib.load())
        return fail(QStringLiteral("Cannot load %1: %2").arg(library, lib.errorString()));
    using GetClassObject = std::int32_t (*)(const char*, const char*, void**);
    const auto get = reinterpret_cast<GetClassObject>(lib.resolve("DllGetClassObject"));
    if (!get)
        return fail(QStringLiteral("%1 has no DllGetClassObject").arg(library));
    void* object = nullptr;
    const QByteArray classText = classId.toLatin1();
    const QByteArray factoryText = braced(kClassFactoryId).toLatin1();
    const std::int32_t hr = get(classText.constData(), factoryText.constData(), &object);
    if (hr != kResultOk || !object)
        return fail(QStringLiteral("%1 does not provide class %2 (result 0x%3)")
                        .arg(library, classId)
                        .arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0')));
    ControlObject* control = static_cast<ClassFactory*>(object)->createInstance(parent);
    if (!control)
        return fail(QStringLiteral("The class factory of %1 made no instance (is there a "
                                   "QApplication?)")
                        .arg(progId));
    return control;
}

ControlObject* createOndrelControl(QString* error,
                                   const std::function<void(const QString& why)>& registered) {
    QString first;
    if (ControlObject* control = createObject(QLatin1String(kOndrelProgId), &first))
        return control;
    if (DllRegisterServer() != kResultOk) {
        if (error)
            *error =
                first +
                QStringLiteral("; registering the control in %1 failed too").arg(registryFile());
        return nullptr;
    }
    if (registered)
        registered(first);
    return createObject(QLatin1String(kOndrelProgId), error);
}

}  // namespace lantry

using namespace lantry;

extern "C" {

std::int32_t DllRegisterServer(void) {
    const QString library = libraryPath();
    const QString file = registryFile();
    if (library.isEmpty() || !QDir().mkpath(QFileInfo(file).absolutePath()))
        return kResultRegistryFailed;
    QSettings s(file, QSettings::IniFormat);
    s.setValue(progIdGroup() + QStringLiteral("/CLSID"), braced(kOndrelClassId));

    s.beginGroup(classGroup());
    s.setValue(QStringLiteral("Name"), QStringLiteral("Ondrel"));
    s.setValue(QStringLiteral("ProgID"), QLatin1String(kOndrelProgId));
    s.setValue(QStringLiteral("Library"), library);
    s.setValue(QStringLiteral("TypeLib"), braced(kTypeLibraryId));
    s.setValue(QStringLiteral("Version"), QLatin1String(kLibraryVersion));
    s.endGroup();

    s.beginGroup(typeLibraryGroup());
    s.setValue(QStringLiteral("Name"), QStringLiteral("Lantry"));
    s.setValue(QStringLiteral("Version"),
               QStringLiteral("%1.%2").arg(kTypeLibraryMajor).arg(kTypeLibraryMinor));
    s.setValue(QStringLiteral("Library"), library);
    s.endGroup();

    for (const auto& [id, name] :
         {std::pair{kOndrelInterfaceId, "_Ondrel"}, std::pair{kOndrelEventsId, "__Ondrel"}}) {
        s.beginGroup(interfaceGroup(id));
        s.setValue(QStringLiteral("Name"), QLatin1String(name));
        s.setValue(QStringLiteral("TypeLib"), braced(kTypeLibraryId));
        s.endGroup();
    }
    return writeRecord(s) ? kResultOk : kResultRegistryFailed;
}

std::int32_t DllUnregisterServer(void) {
    const QString file = registryFile();
    // Nothing registered: nothing to remove, and no file to create.
    if (!QFileInfo::exists(file))
        return kResultOk;
    QSettings s(file, QSettings::IniFormat);
    // Another class may have taken the identifier since; its entry stays.
    if (QUuid::fromString(s.value(progIdGroup() + QStringLiteral("/CLSID")).toString()) ==
        kOndrelClassId)
        s.remove(progIdGroup());
    s.remove(classGroup());
    s.remove(typeLibraryGroup());
    s.remove(interfaceGroup(kOndrelInterfaceId));
    s.remove(interfaceGroup(kOndrelEventsId));
    return writeRecord(s) ? kResultOk : kResultRegistryFailed;
}

std::int32_t DllGetClassObject(const char* classId, const char* interfaceId, void** object) {
    if (!object)
        return kResultPointer;
    *object = nullptr;
    if (!classId || !interfaceId)
        return kResultPointer;
    if (QUuid::fromString(QLatin1String(classId)) != kOndrelClassId)
        return kResultClassNotAvailable;
    if (QUuid::fromString(QLatin1String(interfaceId)) != kClassFactoryId)
        return kResultNoInterface;
    *object = static_cast<ClassFactory*>(&factory);
    return kResultOk;
}

std::int32_t DllCanUnloadNow(void) {
    return OndrelControl::liveInstances() == 0 ? kResultOk : kResultFalse;
}

}  // extern "C"
