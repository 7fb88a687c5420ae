// Late-bound calls: the member table of _Ondrel, argument conversion, by-reference write-back.
#include <QPointer>
#include <array>
#include <exception>
#include <limits>
#include <vector>

#include "conversions.h"
#include "ondrel_control.h"

namespace lantry {

namespace {

// One converted argument; `omitted` only for optional parameters left out.
struct Arg {
    std::string text;
    qint64 number = 0;
    bool flag = false;
    bool omitted = false;

    bool operator==(const Arg&) const = default;
};

using Args = std::vector<Arg>;

std::int16_t i16(const Arg& a) {
    return static_cast<std::int16_t>(a.number);
}
std::int32_t i32(const Arg& a) {
    return static_cast<std::int32_t>(a.number);
}
QVariant textResult(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// A member's description and its call; properties have no call (invoke reads and writes
// them itself).
struct Member {
    MemberInfo info;
    QVariant (*run)(Ondrel&, Args&);
};

constexpr ParamInfo text(const char* n) {
    return {n, ParamType::Text, true, false};
}
constexpr ParamInfo textByValue(const char* n) {
    return {n, ParamType::Text, false, false};
}
constexpr ParamInfo int16(const char* n) {
    return {n, ParamType::Int16, true, false};
}
constexpr ParamInfo int32(const char* n) {
    return {n, ParamType::Int32, true, false};
}
constexpr ParamInfo optionalChatId() {
    return {"lngChatID", ParamType::Int32, true, true};
}
constexpr ParamInfo boolean(const char* n) {
    return {n, ParamType::Boolean, true, false};
}

const std::vector<Member>& members() {
    static const std::vector<Member> table = {
        {{DispId::Login,
          "Login",
          false,
          {text("UserName"),
           text("Password"),
           text("TOCServer"),
           int32("Port"),
           {"AuthServer", ParamType::Variant, true, true}}},
         [](Ondrel& o, Args& a) {
             if (a[4].omitted)
                 o.Login(a[0].text, a[1].text, a[2].text, i32(a[3]));
             else
                 o.Login(a[0].text, a[1].text, a[2].text, i32(a[3]), a[4].text);
             return QVariant();
         }},
        {{DispId::LogOff, "LogOff", false, {}},
         [](Ondrel& o, Args&) {
             o.LogOff();
             return QVariant();
         }},
        {{DispId::SendPacket, "SendPacket", false, {int16("intChannel"), textByValue("strData")}},
         [](Ondrel& o, Args& a) {
             o.SendPacket(i16(a[0]), a[1].text);
             return QVariant();
         }},
        {{DispId::LastChatID, "LastChatID", true, {{"value", ParamType::Int32, false, true}}},
         nullptr},
        {{DispId::JoinChat, "JoinChat", false, {text("strRoomName"), int16("intExchange")}},
         [](Ondrel& o, Args& a) {
             o.JoinChat(a[0].text, i16(a[1]));
             return QVariant();
         }},
        {{DispId::LeaveChat, "LeaveChat", false, {text("strChatName"), optionalChatId()}},
         [](Ondrel& o, Args& a) {
             o.LeaveChat(a[0].text, i32(a[1]));
             return QVariant();
         }},
        {{DispId::SendChat,
          "SendChat",
          false,
          {text("strChatName"), text("strMessage"), optionalChatId()}},
         [](Ondrel& o, Args& a) {
             o.SendChat(a[0].text, a[1].text, i32(a[2]));
             return QVariant();
         }},
        {{DispId::GetProfile, "GetProfile", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.GetProfile(a[0].text);
             return QVariant();
         }},
        {{DispId::SendIM,
          "SendIM",
          false,
          {text("strUserName"), text("strMessage"), boolean("AutoResponse")}},
         [](Ondrel& o, Args& a) {
             o.SendIM(a[0].text, a[1].text, a[2].flag);
             return QVariant();
         }},
        {{DispId::ChangePassword,
          "ChangePassword",
          false,
          {text("strOldPassword"), text("strNewPassword")}},
         [](Ondrel& o, Args& a) {
             o.ChangePassword(a[0].text, a[1].text);
             return QVariant();
         }},
        {{DispId::FormatUserName, "FormatUserName", false, {text("strFormatted")}},
         [](Ondrel& o, Args& a) {
             o.FormatUserName(a[0].text);
             return QVariant();
         }},
        {{DispId::SetAwayMessage, "SetAwayMessage", false, {text("strAwayMessage")}},
         [](Ondrel& o, Args& a) {
             o.SetAwayMessage(a[0].text);
             return QVariant();
         }},
        {{DispId::SetProfile, "SetProfile", false, {text("strProfile")}},
         [](Ondrel& o, Args& a) {
             o.SetProfile(a[0].text);
             return QVariant();
         }},
        {{DispId::GetStatus, "GetStatus", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.GetStatus(a[0].text);
             return QVariant();
         }},
        {{DispId::SetIdleTime, "SetIdleTime", false, {int32("lngMinutes")}},
         [](Ondrel& o, Args& a) {
             o.SetIdleTime(i32(a[0]));
             return QVariant();
         }},
        {{DispId::AcceptChatInvite, "AcceptChatInvite", false, {int32("lngChatID")}},
         [](Ondrel& o, Args& a) {
             o.AcceptChatInvite(i32(a[0]));
             return QVariant();
         }},
        {{DispId::InviteUsers,
          "InviteUsers",
          false,
          {text("strChatName"), text("strInviteMessage"), text("strUsers"), optionalChatId()}},
         [](Ondrel& o, Args& a) {
             o.InviteUsers(a[0].text, a[1].text, a[2].text, i32(a[3]));
             return QVariant();
         }},
        {{DispId::WarnUser, "WarnUser", false, {text("strUserName"), boolean("blnAnonymous")}},
         [](Ondrel& o, Args& a) {
             o.WarnUser(a[0].text, a[1].flag);
             return QVariant();
         }},
        {{DispId::AddBuddy, "AddBuddy", false, {text("strGroup"), text("strBuddy")}},
         [](Ondrel& o, Args& a) {
             o.AddBuddy(a[0].text, a[1].text);
             return QVariant();
         }},
        {{DispId::RemoveBuddy, "RemoveBuddy", false, {text("strGroup"), text("strBuddy")}},
         [](Ondrel& o, Args& a) {
             o.RemoveBuddy(a[0].text, a[1].text);
             return QVariant();
         }},
        {{DispId::AddGroup, "AddGroup", false, {text("strGroup")}},
         [](Ondrel& o, Args& a) {
             o.AddGroup(a[0].text);
             return QVariant();
         }},
        {{DispId::RemoveGroup, "RemoveGroup", false, {text("strGroup")}},
         [](Ondrel& o, Args& a) {
             o.RemoveGroup(a[0].text);
             return QVariant();
         }},
        {{DispId::BlockUser, "BlockUser", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.BlockUser(a[0].text);
             return QVariant();
         }},
        {{DispId::UnblockUser, "UnblockUser", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.UnblockUser(a[0].text);
             return QVariant();
         }},
        {{DispId::AddPrivateUser, "AddPrivateUser", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.AddPrivateUser(a[0].text);
             return QVariant();
         }},
        {{DispId::RemovePrivateUser, "RemovePrivateUser", false, {text("strUserName")}},
         [](Ondrel& o, Args& a) {
             o.RemovePrivateUser(a[0].text);
             return QVariant();
         }},
        {{DispId::SetPrivacy, "SetPrivacy", false, {int16("intMode")}},
         [](Ondrel& o, Args& a) {
             o.SetPrivacy(i16(a[0]));
             return QVariant();
         }},
        {{DispId::SetCapability, "SetCapability", false, {text("strCapUUID")}},
         [](Ondrel& o, Args& a) {
             o.SetCapability(a[0].text);
             return QVariant();
         }},
        {{DispId::RemoveHtml, "RemoveHtml", false, {textByValue("strMessage")}},
         [](Ondrel&, Args& a) { return textResult(Ondrel::RemoveHtml(a[0].text)); }},
        {{DispId::GetChatName, "GetChatName", false, {int32("lngChatID")}},
         [](Ondrel& o, Args& a) { return textResult(o.GetChatName(i32(a[0]))); }},
    };
    return table;
}

const Member* findMember(DispatchId id) {
    for (const auto& m : members())
        if (m.info.id == id)
            return &m;
    return nullptr;
}

DispatchResult failure(DispatchError error, QString description, int argument = -1) {
    DispatchResult r;
    r.error = error;
    r.description = std::move(description);
    r.argument = argument;
    return r;
}

QString hexId(DispatchId id) {
    return QStringLiteral("0x%1").arg(static_cast<quint32>(id), 8, 16, QLatin1Char('0'));
}

// Converts one argument into `out`; on failure fills `result`.
bool convert(const MemberInfo& m, int index, const QVariant& value, Arg& out,
             DispatchResult& result) {
    const ParamInfo& p = m.params[static_cast<std::size_t>(index)];
    if (p.optional && !value.isValid()) {
        out.omitted = true;
        return true;
    }
    QString why;
    Conversion c = Conversion::Ok;
    switch (p.type) {
        case ParamType::Text:
        case ParamType::Variant:
            c = toText(value, out.text, why);
            break;
        case ParamType::Int16:
            c = toInteger(value, std::numeric_limits<std::int16_t>::min(),
                          std::numeric_limits<std::int16_t>::max(), out.number, why);
            break;
        case ParamType::Int32:
            c = toInteger(value, std::numeric_limits<std::int32_t>::min(),
                          std::numeric_limits<std::int32_t>::max(), out.number, why);
            break;
        case ParamType::Boolean:
            c = toBoolean(value, out.flag, why);
            break;
    }
    if (c == Conversion::Ok)
        return true;
    const QString where = QStringLiteral("%1: argument %2 (%3): %4")
                              .arg(QLatin1String(m.name))
                              .arg(index + 1)
                              .arg(QLatin1String(p.name), why);
    result =
        failure(c == Conversion::Overflow ? DispatchError::Overflow : DispatchError::TypeMismatch,
                where, index);
    return false;
}

QVariant writeBack(const ParamInfo& p, const QVariant& original, const Arg& a) {
    switch (p.type) {
        case ParamType::Text:
        case ParamType::Variant:
            return textLike(original, a.text);
        case ParamType::Int16:
            return QVariant::fromValue<short>(static_cast<short>(a.number));
        case ParamType::Int32:
            return static_cast<int>(a.number);
        case ParamType::Boolean:
            return a.flag;
    }
    return {};
}

}  // namespace

const std::vector<MemberInfo>& memberTable() {
    static const std::vector<MemberInfo> table = [] {
        std::vector<MemberInfo> out;
        for (const auto& m : members())
            out.push_back(m.info);
        return out;
    }();
    return table;
}

DispatchId OndrelControl::idOfName(const QString& name) const {
    for (const auto& m : members())
        if (name.compare(QLatin1String(m.info.name), Qt::CaseInsensitive) == 0)
            return m.info.id;
    return kUnknownDispatchId;
}

DispatchResult OndrelControl::invoke(DispatchId id, InvokeKind kind, QVariantList& args) {
    const Member* found = findMember(id);
    if (!found)
        return failure(DispatchError::UnknownMember,
                       QStringLiteral("No member has dispatch identifier %1").arg(hexId(id)));
    const MemberInfo* m = &found->info;
    if (m->property) {
        const bool get =
            kind == InvokeKind::PropertyGet || (kind == InvokeKind::Method && args.isEmpty());
        if (get) {
            if (!args.isEmpty())
                return failure(
                    DispatchError::WrongArgumentCount,
                    QStringLiteral("LastChatID get takes no argument, got %1").arg(args.size()));
            DispatchResult r;
            r.value = engine_.LastChatID();
            return r;
        }
        if (kind != InvokeKind::PropertyPut)
            return failure(DispatchError::WrongInvokeKind,
                           QStringLiteral("LastChatID is a property, not a method"));
        if (args.size() != 1)
            return failure(
                DispatchError::WrongArgumentCount,
                QStringLiteral("LastChatID put takes one argument, got %1").arg(args.size()));
        qint64 value = 0;
        QString why;
        const Conversion c = toInteger(args[0], std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max(), value, why);
        if (c != Conversion::Ok)
            return failure(
                c == Conversion::Overflow ? DispatchError::Overflow : DispatchError::TypeMismatch,
                QStringLiteral("LastChatID put: ") + why, 0);
        engine_.LastChatID(static_cast<std::int32_t>(value));
        return {};
    }

    if (kind != InvokeKind::Method)
        return failure(
            DispatchError::WrongInvokeKind,
            QStringLiteral("%1 is a method, not a property").arg(QLatin1String(m->name)));

    const auto total = static_cast<qsizetype>(m->params.size());
    qsizetype required = 0;
    for (const auto& p : m->params)
        if (!p.optional)
            ++required;
    if (args.size() < required || args.size() > total) {
        const QString takes = required == total
                                  ? QString::number(total)
                                  : QStringLiteral("%1 to %2").arg(required).arg(total);
        return failure(DispatchError::WrongArgumentCount,
                       QStringLiteral("%1 takes %2 argument(s), got %3")
                           .arg(QLatin1String(m->name), takes)
                           .arg(args.size()));
    }

    Args converted(m->params.size());
    for (qsizetype i = args.size(); i < total; ++i)
        converted[static_cast<std::size_t>(i)].omitted = true;
    DispatchResult result;
    for (qsizetype i = 0; i < args.size(); ++i)
        if (!convert(*m, static_cast<int>(i), args[i], converted[static_cast<std::size_t>(i)],
                     result))
            return result;
    const Args before = converted;

    try {
        result.value = found->run(engine_, converted);
    } catch (const std::exception& e) {
        // The control's sentences already name the member.
        return failure(DispatchError::MethodFailed, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return failure(DispatchError::MethodFailed,
                       QStringLiteral("%1 failed").arg(QLatin1String(m->name)));
    }

    // Only what the control changed goes back; the caller's other variables keep their type.
    for (qsizetype i = 0; i < args.size(); ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (m->params[k].byRef && !(converted[k] == before[k]))
            args[i] = writeBack(m->params[k], args[i], converted[k]);
    }
    return result;
}

}  // namespace lantry
