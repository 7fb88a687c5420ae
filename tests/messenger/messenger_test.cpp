// The messenger as a person uses it: sign-on window, buddy list, IM and room windows, offscreen
// against private tocd servers, two or three sessions in one process; and its renderer of
// received markup on its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <future>
#include <memory>
#include <thread>

#include "add_buddy_dialog.h"
#include "away_dialog.h"
#include "buddy_list_model.h"
#include "buddy_list_proxy.h"
#include "buddy_list_window.h"
#include "chat_room_window.h"
#include "history_store.h"
#include "history_window.h"
#include "im_window.h"
#include "message_view.h"
#include "messenger.h"
#include "notifier.h"
#include "ondrel/component.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "profile_editor.h"
#include "profile_viewer.h"
#include "safe_markup.h"
#include "scripted_peer.h"
#include "settings_dialog.h"
#include "sign_on_window.h"
#include "tocd_process.h"
#include "transcript_model.h"
#include "transcript_view.h"
#include "tray_icon.h"
#include "widget_test_main.h"

namespace {

using namespace messenger;
using State = ConnectionManager::State;

constexpr int kWaitMs = 10000;

TEST(SafeMarkup, KeepsFormattingAndLinksAndShowsEverythingElseAsText) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"<HTML><BODY><B>bold</B> <i>it</I> <u>u</u></BODY></HTML>",
         "<b>bold</b> <i>it</i> <u>u</u>"},
        {"<font color=\"red\" face=\"x\" onclick=\"f()\">red</font>",
         "<span style=\"color:#ff0000\">red</span>"},
        {"<font color=\"url(http://x/)\">plain</font>", "plain"},
        {"<a href=\"http://example.com/a?b=1&amp;c=2\">site</a>",
         "<a href=\"http://example.com/a?b=1&amp;c=2\" title=\"example.com: "
         "http://example.com/a?b=1&amp;c=2\">site</a>"},
        // Links that lie: the real host follows a text that names another; no user
        // information, no mailto parameters but subject and body, no link inside a link.
        {"<a href=\"http://evil.example/\">https://bank.example/login</a>",
         "<a href=\"http://evil.example/\" title=\"evil.example: http://evil.example/\">"
         "https://bank.example/login</a> [evil.example]"},
        {"<a href=\"http://xn--bnk-7cd.example/\">www.bank.example</a> <a "
         "href=\"https://bank.example/x\">bank.example/y</a>",
         "<a href=\"http://xn--bnk-7cd.example/\" title=\"xn--bnk-7cd.example: "
         "http://xn--bnk-7cd.example/\">www.bank.example</a> [xn--bnk-7cd.example] <a "
         "href=\"https://bank.example/x\" title=\"bank.example: https://bank.example/x\">"
         "bank.example/y</a>"},
        {"<a href=\"http://bank.example@evil.example/\">x</a>",
         "&lt;a href=&quot;http://bank.example@evil.example/&quot;&gt;x"},
        {"<a href=\"mailto:bob@x.example?Subject=hi&amp;body=yo\">m</a>",
         "<a href=\"mailto:bob@x.example?Subject=hi&amp;body=yo\" "
         "title=\"mailto:bob@x.example?Subject=hi&amp;body=yo\">m</a>"},
        {"<a href=\"mailto:bob@x.example?subject=hi&amp;attach=/etc/passwd\">m</a>",
         "&lt;a href=&quot;mailto:bob@x.example?subject=hi&amp;attach=/etc/passwd&quot;&gt;m"},
        {"<a href=\"mailto:bob@x.example?bcc=eve@y.example\">m</a>",
         "&lt;a href=&quot;mailto:bob@x.example?bcc=eve@y.example&quot;&gt;m"},
        {"<a href=\"http://a.example/\">a<a href=\"http://b.example/\">b</a>",
         "<a href=\"http://a.example/\" title=\"a.example: http://a.example/\">a&lt;a "
         "href=&quot;http://b.example/&quot;&gt;b</a>"},
        {"<a href=\"javascript:alert(1)\">js</a>",
         "&lt;a href=&quot;javascript:alert(1)&quot;&gt;js"},
        // A host does not make any scheme safe.
        {"<a href=\"javascript://x.com/%0Aalert(1)\">js</a>",
         "&lt;a href=&quot;javascript://x.com/%0Aalert(1)&quot;&gt;js"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"<img src=\"http://127.0.0.1:9/x.png\">",
         "&lt;img src=&quot;http://127.0.0.1:9/x.png&quot;&gt;"},
        {"<b><i>open", "<b><i>open</i></b>"},
        {"a &amp; b &lt;c&gt; &#233;&#x263A; &bogus;", "a &amp; b &lt;c&gt; é☺ &amp;bogus;"},
        {"one\n[12:00:00] echobot: two\r\x1b]0;t\x07", "one␊[12:00:00] echobot: two␍␛]0;t␇"},
        {"a\u2028b\u202Ec", "a&lt;U+2028&gt;b&lt;U+202E&gt;c"},
        {"\u061C\u180E\u115F\u3164\U000E0041",
         "&lt;U+061C&gt;&lt;U+180E&gt;&lt;U+115F&gt;&lt;U+3164&gt;&lt;U+E0041&gt;"},
        // "<" without a ">" after it is text, however many there are.
        {"<<x<b>", "&lt;&lt;x<b></b>"},
        {"a < b", "a &lt; b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(renderMarkup(QString::fromUtf8(row.in)).toStdString(), row.out);
    }
    // A fetched page: its body as text, line ends where blocks end, nothing of head or script.
    const QString page = renderMarkup(
        QStringLiteral("<html><head><title>t</title><script>x()</script></head><body><h1>Bob</h1>"
                       "<div>likes <b>tea</b>\n&amp; <img src=\"http://a/b\">cake</div></body>"),
        OtherMarkup::Drop);
    EXPECT_EQ(page.toStdString(), "<br>Bob<br>likes <b>tea</b> &amp; cake<br>");

    // Text colours stay readable against the window's background, white on white included.
    const QColor base = QApplication::palette().color(QPalette::Base);
    const auto contrast = [](const QColor& a, const QColor& b) {
        const auto luminance = [](const QColor& c) {
            const auto linear = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) +
                   0.0722 * linear(c.blueF());
        };
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    };
    for (const QColor& sent : {base, base.darker(103), QColor(Qt::yellow), QColor(Qt::darkBlue)}) {
        const QString html =
            renderMarkup(QStringLiteral("<font color=\"%1\">hidden?</font>").arg(sent.name()));
        const QRegularExpression colour(QStringLiteral("color:(#[0-9a-f]{6})"));
        const QColor shown(colour.match(html).captured(1));
        ASSERT_TRUE(shown.isValid()) << html.toStdString();
        EXPECT_GE(contrast(shown, base), kMinContrast) << html.toStdString();
        if (contrast(sent, base) >= kMinContrast) {
            EXPECT_EQ(shown, sent);
        }
    }
}

// Addresses written out become links by the renderer's rules, in typed and received text alike;
// nothing written out links anywhere but http, https and mailto. In the expected output, [URL]
// is the renderer's link to URL showing URL, and [URL|TEXT] one showing TEXT.
TEST(SafeMarkup, AddressesInTheTextBecomeLinksWithoutTheSentencesPunctuation) {
    const auto links = [](const char* out) {
        static const QRegularExpression link(
            QStringLiteral("\\[([a-z]+:[^|\\] ]+)\\|?([^\\]]*)\\]"));
        QString html = QString::fromUtf8(out);
        for (auto m = link.match(html); m.hasMatch(); m = link.match(html, m.capturedStart())) {
            const QString href = m.captured(1), host = QUrl(href).host(QUrl::FullyEncoded);
            html.replace(m.capturedStart(), m.capturedLength(),
                         QStringLiteral("<a href=\"%1\" title=\"%2%1\">%3</a>")
                             .arg(href, host.isEmpty() ? QString() : host + QStringLiteral(": "),
                                  m.captured(2).isEmpty() ? href : m.captured(2)));
        }
        return html.toStdString();
    };
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"see http://a.example/x.", "see [http://a.example/x]."},
        {"(https://a.example/Tea_(drink)), ok?", "([https://a.example/Tea_(drink)]), ok?"},
        {"[http://a.example/]; mailto:bob@x.example?subject=hi!",
         "[[http://a.example/]]; [mailto:bob@x.example?subject=hi]!"},
        {"HTTP://A.example/?q=1&amp;r=2 <b>http://a.example/</b>",
         "[http://a.example/?q=1&amp;r=2|HTTP://A.example/?q=1&amp;r=2] "
         "<b>[http://a.example/]</b>"},
        // The address ends where a decoded tag, a quote or a hidden character begins.
        {"http://a.example/&lt;b&gt;\"x\" http://a.example/\u202Egpj.exe",
         "[http://a.example/]&lt;b&gt;&quot;x&quot; [http://a.example/]&lt;U+202E&gt;gpj.exe"},
        // A look-alike host says where the link really goes.
        {"http://b\u0430nk.example/",
         "[http://xn--bnk-6cd.example/|http://b\u0430nk.example/] [xn--bnk-6cd.example]"},
        // An element shown as text links nothing; an address in angle brackets is linked.
        {"<img src=\"http://a.example/x.png\"> <http://a.example/>",
         "&lt;img src=&quot;http://a.example/x.png&quot;&gt; &lt;[http://a.example/]&gt;"},
        // No link inside a link, and none that the link rules refuse.
        {"<a href=\"http://a.example/\">go http://b.example/</a>",
         "[http://a.example/|go http://b.example/]"},
        {"xhttp://a.example/ http:// http://. mailto: http://bank.example@evil.example/ "
         "mailto:bob@x.example?bcc=eve@y.example",
         "xhttp://a.example/ http:// http://. mailto: http://bank.example@evil.example/ "
         "mailto:bob@x.example?bcc=eve@y.example"},
        {"javascript:alert(1) javascript:http://a.example/ ftp://a.example/ "
         "data:text/html,http://x "
         "file:///etc/passwd",
         "javascript:alert(1) javascript:[http://a.example/] ftp://a.example/ "
         "data:text/html,[http://x] file:///etc/passwd"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(renderMarkup(QString::fromUtf8(row.in)).toStdString(), links(row.out));
    }
    // Sent text goes through the same rules: an address typed in bold is a bold link.
    EXPECT_EQ(
        renderMarkup(typedMarkup(QStringLiteral("<3 http://a.example/."), {true})).toStdString(),
        links("<b>&lt;3 [http://a.example/].</b>"));
}

// Every range of characters that hide themselves or reorder text shows as signs from its first
// to its last character, and the characters just outside each range show as themselves.
TEST(SafeMarkup, HiddenCharactersShowAsSignsAtBothEndsOfEachRange) {
    const struct {
        char32_t first, last;
    } ranges[] = {
        {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C}, {0x115F, 0x1160},   {0x180E, 0x180E},
        {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x2064}, {0x2066, 0x206F},   {0x3164, 0x3164},
        {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF9, 0xFFFB}, {0xE0000, 0xE007F},
    };
    // Not QString::fromUcs4, which takes U+FEFF for a byte-order mark and drops it.
    const auto one = [](char32_t c) { return QStringView(QChar::fromUcs4(c)).toString(); };
    const auto shown = [&](char32_t c) {
        return renderMarkup(QStringLiteral("a") + one(c) + QStringLiteral("b"));
    };
    for (const auto& range : ranges) {
        for (const char32_t c : {range.first, range.last}) {
            SCOPED_TRACE(QString::number(c, 16).toStdString());
            EXPECT_EQ(shown(c),
                      QStringLiteral("a&lt;U+%1&gt;b")
                          .arg(QStringLiteral("%1").arg(uint(c), 4, 16, QChar(u'0')).toUpper()));
        }
        for (const char32_t c : {range.first - 1, range.last + 1}) {
            SCOPED_TRACE(QString::number(c, 16).toStdString());
            EXPECT_EQ(shown(c), QStringLiteral("a") + one(c) + QStringLiteral("b"));
        }
    }
}

// Real servers announce a nameless group before each list change, and may store one: neither
// becomes a group to show or to add buddies to.
TEST(BuddyList, NamelessGroupsAreNoGroups) {
    BuddyListModel model;
    model.handleEvent(int(lantry::EventNumber::LoggedIn),
                      {QStringLiteral("me"),
                       QStringList{QStringLiteral("[group]"), QStringLiteral("[group]Friends"),
                                   QStringLiteral("bob")}});
    model.handleEvent(int(lantry::EventNumber::GroupAdded), {QString()});
    model.handleEvent(int(lantry::EventNumber::GroupAdded), {QStringLiteral("Work")});
    EXPECT_EQ(model.groupNames(), (QStringList{QStringLiteral("Friends"), QStringLiteral("Work")}));

    // Unread messages show beside the name, in bold, until read.
    const QModelIndex bob = model.buddyIndex(QStringLiteral("Friends"), QStringLiteral("bob"));
    QList<QModelIndex> changed;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex&) { changed.append(from); });
    model.setUnread(QStringLiteral("B ob"), 2);
    EXPECT_EQ(changed, QList<QModelIndex>{bob});
    EXPECT_TRUE(bob.data().toString().endsWith(QStringLiteral("[2 unread]")))
        << bob.data().toString().toStdString();
    EXPECT_TRUE(bob.data(Qt::FontRole).value<QFont>().bold());
    model.setUnread(QStringLiteral("bob"), 0);
    EXPECT_FALSE(bob.data().toString().contains(QStringLiteral("unread")));
    EXPECT_FALSE(bob.data(Qt::FontRole).isValid());
}

// Presence as the list shows it: a group counts everyone online, away and idle included, and
// stops counting whoever signs off (its row tells the view); the proxy orders by status or by
// name and hides who is offline when asked; a buddy shows under the name the server formats.
TEST(BuddyList, CountsSortsAndFiltersByPresence) {
    using lantry::EventNumber;
    BuddyListModel model;
    BuddyListProxy shown(&model);
    model.handleEvent(
        int(EventNumber::LoggedIn),
        {QStringLiteral("me"),
         QStringList{QStringLiteral("[group]Friends"), QStringLiteral("carol"),
                     QStringLiteral("dave"), QStringLiteral("B O B"), QStringLiteral("erin"),
                     QStringLiteral("[group]Work"), QStringLiteral("frank")}});
    const auto update = [&](const char* name, bool online, int idleMinutes, const char* userClass) {
        model.handleEvent(int(EventNumber::BuddyUpdate),
                          {QLatin1String(name), online, 0, qint64(online ? 1700000000 : 0),
                           idleMinutes, QLatin1String(userClass)});
    };
    const auto names = [&](const char* group) {
        QStringList out;
        const QModelIndex g = shown.mapFromSource(model.groupIndex(QLatin1String(group)));
        for (int row = 0; row < shown.rowCount(g); ++row)
            out.append(shown.index(row, 0, g).data(BuddyListModel::ShownNameRole).toString());
        return out;
    };
    const QModelIndex friends = model.groupIndex(QStringLiteral("Friends"));
    QList<QModelIndex> changed;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex&) { changed.append(from); });
    update("erin", true, 0, " O ");
    update("Dave", true, 0, " OU");
    update("Bob", true, 7, " O ");
    EXPECT_TRUE(changed.contains(friends));
    EXPECT_EQ(friends.data().toString(), QStringLiteral("Friends (3/4)"));
    EXPECT_EQ(names("Friends"), (QStringList{QStringLiteral("erin"), QStringLiteral("Dave"),
                                             QStringLiteral("Bob"), QStringLiteral("carol")}));

    changed.clear();
    update("erin", false, 0, "");
    EXPECT_TRUE(changed.contains(friends));
    EXPECT_EQ(friends.data().toString(), QStringLiteral("Friends (2/4)"));
    EXPECT_EQ(names("Friends"), (QStringList{QStringLiteral("Dave"), QStringLiteral("Bob"),
                                             QStringLiteral("carol"), QStringLiteral("erin")}));
    shown.setSortBy(BuddyListProxy::SortBy::Name);
    EXPECT_EQ(names("Friends"), (QStringList{QStringLiteral("Bob"), QStringLiteral("carol"),
                                             QStringLiteral("Dave"), QStringLiteral("erin")}));
    shown.setShowOffline(false);
    EXPECT_EQ(names("Friends"), (QStringList{QStringLiteral("Bob"), QStringLiteral("Dave")}));
    EXPECT_TRUE(shown.mapFromSource(model.groupIndex(QStringLiteral("Work"))).isValid());
    EXPECT_EQ(names("Work"), QStringList{});
    update("frank", true, 0, " O ");
    EXPECT_EQ(names("Work"), QStringList{QStringLiteral("frank")});

    // Signed off ourselves: nobody counts, nobody online shows; the formatted names stay.
    model.handleEvent(int(EventNumber::LoggedOut), {});
    EXPECT_EQ(friends.data().toString(), QStringLiteral("Friends (0/4)"));
    EXPECT_EQ(names("Friends"), QStringList{});
    shown.setShowOffline(true);
    EXPECT_EQ(names("Friends"), (QStringList{QStringLiteral("Bob"), QStringLiteral("carol"),
                                             QStringLiteral("Dave"), QStringLiteral("erin")}));
}

// --help and --version answer without any display, and say what they should.
TEST(MessengerProgram, HelpAndVersionNeedNoDisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    const struct {
        const char* option;
        QString says;
    } rows[] = {
        {"--help", QStringLiteral("--server <HOST[:PORT]>")},
        {"--help-all", QStringLiteral("--settings <FILE>")},
        {"--version",
         QStringLiteral("Ondrel Messenger %1").arg(QLatin1String(lantry::kLibraryVersion))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.option);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(MESSENGER_PATH), {QLatin1String(row.option)});
        ASSERT_TRUE(program.waitForFinished(kWaitMs));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        EXPECT_TRUE(out.contains(row.says)) << out.toStdString();
    }
    // Anything else says why it cannot run, rather than aborting.
    for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("--bogus")}}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(MESSENGER_PATH), args);
        ASSERT_TRUE(program.waitForFinished(kWaitMs));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 1);
        EXPECT_TRUE(program.readAllStandardError().contains("no display"))
            << args.join(' ').toStdString();
    }
}

// A line as the control would deliver it from `who`.
void receive(ConversationStore& store, const QString& who, const QString& text) {
    store.handleEvent(int(lantry::EventNumber::InstantMessage), {who, text, false});
}

// The texts of a conversation's lines, oldest first.
QStringList textsOf(const Conversation* c) {
    QStringList out;
    for (const ChatLine& l : c->transcript->lines())
        out.append(l.kind == ChatLine::Kind::Notice ? l.html : l.text);
    return out;
}

QStringList numbered(int from, int to) {
    QStringList out;
    for (int i = from; i < to; ++i)
        out.append(QStringLiteral("m%1").arg(i));
    return out;
}

// The history behind the transcripts, without windows: what one run wrote, the next shows,
// the latest lines first and older ones on demand, each line once and in order, received markup
// rendered again as harmless text; lines trimmed from memory come back from the file.
TEST(History, LinesComeBackAfterARestartInOrderAndOnDemand) {
    QTemporaryDir dir;
    const int total = HistoryStore::kLinesPerLoad + 30;
    {
        HistoryStore history;
        ASSERT_TRUE(history.open(dir.path(), QStringLiteral("alice")));
        ConversationStore store;
        store.setHistory(&history);
        for (const QString& text : numbered(0, total))
            receive(store, QStringLiteral("bob"), text);
        receive(store, QStringLiteral("carol"), QStringLiteral("<script>x()</script> 100%"));
        store.addNotice(ConversationStore::imKey(QStringLiteral("carol")),
                        QStringLiteral("<i>notice</i>"));
    }
    HistoryStore history;
    ASSERT_TRUE(history.open(dir.path(), QStringLiteral("alice")));
    ConversationStore store;
    store.setHistory(&history);
    receive(store, QStringLiteral("bob"), QStringLiteral("new"));
    const Conversation* bob = store.find(ConversationStore::imKey(QStringLiteral("bob")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bob->loadingOlder; }, kWaitMs));
    EXPECT_EQ(textsOf(bob), numbered(total - HistoryStore::kLinesPerLoad, total)
                                << QStringLiteral("new"));
    EXPECT_TRUE(store.canLoadOlder(bob->key));
    store.loadOlder(bob->key);
    store.loadOlder(bob->key);  // asked twice before the answer: loaded once
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bob->loadingOlder; }, kWaitMs));
    EXPECT_EQ(textsOf(bob), numbered(0, total) << QStringLiteral("new"));
    store.loadOlder(bob->key);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bob->loadingOlder; }, kWaitMs));
    EXPECT_FALSE(store.canLoadOlder(bob->key));
    EXPECT_EQ(bob->transcript->rowCount(), total + 1);

    const Conversation* carol = &store.im(QStringLiteral("carol"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return carol->transcript->rowCount() == 2; }, kWaitMs));
    EXPECT_EQ(carol->transcript->line(0).html.toStdString(),
              "&lt;script&gt;x()&lt;/script&gt; 100%");
    EXPECT_EQ(carol->transcript->line(1).kind, ChatLine::Kind::Notice);
    EXPECT_EQ(carol->transcript->line(1).html, QStringLiteral("<i>notice</i>"));

    // Past what memory keeps, a chunk of the oldest goes at once; asking brings it back.
    const int many = TranscriptModel::kMaxLines + TranscriptModel::kTrimChunk;
    for (const QString& text : numbered(total, total + many))
        receive(store, QStringLiteral("bob"), text);
    const int kept = bob->transcript->rowCount();
    EXPECT_LE(kept, many);
    EXPECT_EQ(textsOf(bob).constLast(), QStringLiteral("m%1").arg(total + many - 1));
    store.loadOlder(bob->key);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bob->loadingOlder; }, kWaitMs));
    const QStringList back = textsOf(bob);
    EXPECT_EQ(back.size(), kept + HistoryStore::kLinesPerLoad);
    const qsizetype at = back.indexOf(textsOf(bob).at(HistoryStore::kLinesPerLoad));
    EXPECT_EQ(at, HistoryStore::kLinesPerLoad);
    for (int row = 1; row < back.size(); ++row)
        EXPECT_LT(bob->transcript->line(row - 1).id, bob->transcript->line(row).id);
}

// Searching the history: in one conversation or all, the text taken literally (no wildcards),
// newest first; logging off writes nothing; clearing removes every line and every transcript.
TEST(History, SearchLoggingOffAndClear) {
    QTemporaryDir dir;
    HistoryStore history;
    ASSERT_TRUE(history.open(dir.path(), QStringLiteral("alice")));
    ConversationStore store;
    store.setHistory(&history);
    receive(store, QStringLiteral("bob"), QStringLiteral("tea at 5"));
    receive(store, QStringLiteral("bob"), QStringLiteral("100% sure"));
    receive(store, QStringLiteral("carol"), QStringLiteral("TEA for two"));
    receive(store, QStringLiteral("carol"), QStringLiteral("a_b"));
    const auto search = [&](const QString& text, const QString& key = {}) {
        QStringList texts;
        bool done = false;
        const int request = history.search(text, key);
        auto c = QObject::connect(&history, &HistoryStore::found,
                                  [&](int r, const QList<HistoryHit>& hits) {
                                      if (r != request)
                                          return;
                                      for (const HistoryHit& h : hits)
                                          texts.append(h.key + u' ' + h.line.text);
                                      done = true;
                                  });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kWaitMs));
        QObject::disconnect(c);
        return texts;
    };
    EXPECT_EQ(search(QStringLiteral("tea")), (QStringList{QStringLiteral("im:carol TEA for two"),
                                                          QStringLiteral("im:bob tea at 5")}));
    EXPECT_EQ(search(QStringLiteral("tea"), ConversationStore::imKey(QStringLiteral("bob"))),
              QStringList{QStringLiteral("im:bob tea at 5")});
    EXPECT_EQ(search(QStringLiteral("%")), QStringList{QStringLiteral("im:bob 100% sure")});
    EXPECT_EQ(search(QStringLiteral("_")), QStringList{QStringLiteral("im:carol a_b")});

    history.setLogging(false);
    receive(store, QStringLiteral("bob"), QStringLiteral("off the record"));
    EXPECT_TRUE(search(QStringLiteral("record")).isEmpty());
    EXPECT_EQ(store.find(ConversationStore::imKey(QStringLiteral("bob")))->transcript->rowCount(),
              3);

    store.clearHistory();
    EXPECT_TRUE(search(QStringLiteral("a")).isEmpty());
    EXPECT_EQ(store.find(ConversationStore::imKey(QStringLiteral("bob")))->transcript->rowCount(),
              0);
}

// A history file that cannot be opened is said once, however many lines follow; the lines are
// still shown.
TEST(History, AFileThatCannotBeOpenedIsReportedOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("alice.sqlite/in-the-way")));
    HistoryStore history;
    QStringList problems;
    QObject::connect(&history, &HistoryStore::problem,
                     [&](const QString& why) { problems.append(why); });
    EXPECT_FALSE(history.open(dir.path(), QStringLiteral("alice")));
    ConversationStore store;
    store.setHistory(&history);
    for (const QString& text : numbered(0, 20))
        receive(store, QStringLiteral("bob"), text);
    QTest::qWait(50);
    EXPECT_EQ(problems.size(), 1) << problems.join(u'\n').toStdString();
    EXPECT_EQ(textsOf(store.find(ConversationStore::imKey(QStringLiteral("bob")))),
              numbered(0, 20));
}

// The view shows the end and follows new lines; scrolled back it stays on the same lines while
// lines come at either end, and at the oldest line it asks for older ones.
TEST(Transcript, FollowsTheEndOrStaysWhereScrolled) {
    TranscriptModel model;
    for (const QString& text : numbered(0, 3000))
        model.append(ChatLine{ChatLine::Kind::Incoming, QDateTime::currentDateTime(),
                              QStringLiteral("bob"), text, text, 0});
    TranscriptView view;
    view.setModel(&model);
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_TRUE(view.atEnd());
    const auto add = [&](int n) {
        model.append(ChatLine{ChatLine::Kind::Incoming, QDateTime::currentDateTime(),
                              QStringLiteral("bob"), QString::number(n), QString::number(n), 0});
    };
    add(3000);
    EXPECT_TRUE(view.atEnd());
    view.showRow(1500);
    add(3001);
    EXPECT_FALSE(view.atEnd());
    EXPECT_EQ(view.verticalScrollBar()->value(), 1500);
    QList<ChatLine> older;
    for (int i = 0; i < 10; ++i)
        older.append(ChatLine{ChatLine::Kind::Notice,
                              QDateTime::currentDateTime(),
                              {},
                              QStringLiteral("old"),
                              {},
                              0});
    model.prependOlder(older, false);
    EXPECT_EQ(view.verticalScrollBar()->value(), 1510);
    EXPECT_EQ(view.selectedRow(), 1510);

    int asked = 0;
    QObject::connect(&view, &TranscriptView::olderWanted, [&] { ++asked; });
    view.verticalScrollBar()->setValue(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked > 0; }, kWaitMs));
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_TRUE(view.atEnd());
}

// The other person's typing notice goes when their message comes, however their name is
// written; another person's message leaves it.
TEST(Conversation, TypingNoticeGoesWhenTheMessageArrives) {
    using lantry::EventNumber;
    const struct {
        int typing;
        const char* from;
        const char* shown;
    } rows[] = {
        {2, "Bob S", ""},
        {1, "Bob S", ""},
        {2, "BOBS", ""},
        {1, "bob s", ""},
        {2, "carol", "Bob S is typing ..."},
        {1, "carol", "Bob S stopped typing."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.typing) + row.from);
        ConversationStore store;
        store.im(QStringLiteral("Bob S"));
        ImWindow window(&store, ConversationStore::imKey(QStringLiteral("Bob S")));
        auto* typing = window.findChild<QLabel*>(QStringLiteral("typing"));
        store.handleEvent(int(EventNumber::TypingStatus), {QStringLiteral("bobs"), row.typing});
        ASSERT_FALSE(typing->text().isEmpty());
        store.handleEvent(int(EventNumber::InstantMessage),
                          {QString::fromLatin1(row.from), QStringLiteral("hi"), false});
        EXPECT_EQ(typing->text(), QString::fromLatin1(row.shown));
    }
}

// A messenger session with settings of its own, in a temporary folder.
struct Session {
    explicit Session(const QString& folder, const QString& name)
        : settings(folder + u'/' + name + QStringLiteral(".ini"), QSettings::IniFormat) {
        QString error;
        lantry::ControlObject* control = lantry::createOndrelControl(&error);
        EXPECT_NE(control, nullptr) << error.toStdString();
        app = std::make_unique<Messenger>(control, &settings);
        app->start();
    }

    SignOnWindow* signOn() const { return app->signOnWindow(); }
    template <class T>
    T* field(const char* name) const {
        return signOn()->findChild<T*>(QLatin1String(name));
    }
    // Types into the sign-on window and presses Enter, as a person would.
    void typeSignOn(int port, const QString& name, const QString& password, bool remember = false) {
        field<QLineEdit>("server")->clear();
        QTest::keyClicks(field<QLineEdit>("server"), QStringLiteral("127.0.0.1:%1").arg(port));
        field<QLineEdit>("screenName")->clear();
        QTest::keyClicks(field<QLineEdit>("screenName"), name);
        field<QLineEdit>("password")->clear();
        QTest::keyClicks(field<QLineEdit>("password"), password);
        field<QCheckBox>("rememberMe")->setChecked(remember);
        QTest::keyClick(field<QLineEdit>("password"), Qt::Key_Return);
    }
    bool signOnAs(int port, const QString& name, const QString& password = QStringLiteral("pw1")) {
        typeSignOn(port, name, password);
        return QTest::qWaitFor([&] { return app->connection().state() == State::SignedOn; },
                               kWaitMs);
    }
    bool sees(const char* buddy, bool online, bool away = false) const {
        return QTest::qWaitFor(
            [&] {
                const Presence p = app->buddies().presence(QLatin1String(buddy));
                return p.online == online && p.away == away;
            },
            kWaitMs);
    }
    const Conversation* conversation(const QString& key) { return app->conversations().find(key); }

    QSettings settings;
    std::unique_ptr<Messenger> app;
};

// Every line a transcript holds, as text.
QStringList linesOf(TranscriptView* view) {
    QStringList out;
    const TranscriptModel* model = view->model();
    for (int row = 0; model && row < model->rowCount(); ++row)
        out.append(model->data(model->index(row), Qt::DisplayRole).toString());
    return out;
}

bool shows(TranscriptView* view, const QString& text) {
    return QTest::qWaitFor([&] { return linesOf(view).join(u'\n').contains(text); }, kWaitMs);
}

// Answers the next questions the windows ask (QInputDialog), in order, as a person types.
void answerQuestions(QStringList answers) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answers]() mutable {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog->property("answered").toBool())
            return;
        dialog->setProperty("answered", true);
        dialog->setTextValue(answers.takeFirst());
        QTest::keyClick(dialog, Qt::Key_Return);
        if (answers.isEmpty())
            poll->deleteLater();
    });
    poll->start(20);
}

// Fills in the Add Buddy dialog when it opens and presses Enter in the name, as a person would.
void answerAddBuddy(const QString& name, const QString& group) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, group] {
        auto* dialog = qobject_cast<AddBuddyDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        auto* typed = dialog->findChild<QLineEdit*>(QStringLiteral("buddyName"));
        QTest::keyClicks(typed, name);
        dialog->findChild<QComboBox*>(QStringLiteral("buddyGroup"))->setEditText(group);
        QTest::keyClick(typed, Qt::Key_Return);
    });
    poll->start(20);
}

// A shortcut pressed in `window`, made the active window first as a person's click would.
void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, key, modifiers);
}

// A session bus of the run's own, where no service starts by itself: the messenger's calls
// for notifications and secrets reach nothing of the user's, and a test may play a service.
// Without dbus-daemon the run has no session bus at all, and `problem` says why.
class PrivateSessionBus : public ::testing::Environment {
public:
    static inline QString problem;

    void SetUp() override {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        dir_ = std::make_unique<QTemporaryDir>();
        QFile config(dir_->filePath(QStringLiteral("bus.conf")));
        if (!dir_->isValid() || !config.open(QIODevice::WriteOnly) ||
            config.write(
                QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                               "Configuration 1.0//EN\" "
                               "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                               "<busconfig><type>session</type><listen>unix:tmpdir=%1</listen>"
                               "<auth>EXTERNAL</auth><policy context=\"default\">"
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                    .arg(dir_->path())
                    .toUtf8()) < 0) {
            problem = QStringLiteral("its configuration cannot be written");
            return;
        }
        config.close();
        daemon_ = std::make_unique<QProcess>();
        // A run that dies takes its bus along.
        daemon_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon_->start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config.fileName(),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!daemon_->waitForStarted(kWaitMs)) {
            problem = QStringLiteral("dbus-daemon does not start (%1)").arg(daemon_->errorString());
            return;
        }
        if (!daemon_->waitForReadyRead(kWaitMs)) {
            problem = QStringLiteral("dbus-daemon gave no address: %1")
                          .arg(QString::fromLocal8Bit(daemon_->readAllStandardError()));
            return;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon_->readLine().trimmed());
    }
    void TearDown() override {
        if (daemon_) {
            daemon_->terminate();
            daemon_->waitForFinished(kWaitMs);
        }
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> daemon_;
};

class MessengerWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // Histories go to this test's folder, never the user's.
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toUtf8());
        ASSERT_TRUE(tocd_.start()) << tocd_.errorText().toStdString();
    }
    std::unique_ptr<Session> session(const QString& name) {
        return std::make_unique<Session>(dir_.path(), name);
    }

    QTemporaryDir dir_;
    lantry::testing::TocdProcess tocd_;
};

TEST_F(MessengerWindows, SignOnChatInRoomsAndSeeEachOthersPresence) {
    auto alice = session(QStringLiteral("alice"));
    alice->typeSignOn(tocd_.port(), QStringLiteral("Alice Ux"), QStringLiteral("pw1"), true);
    EXPECT_TRUE(alice->signOn()->status().contains(QLatin1String("Signing on")));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return alice->app->buddyListWindow()->isVisible(); }, kWaitMs));
    EXPECT_FALSE(alice->signOn()->isVisible());
    // Remember me: server and name in the settings, the password nowhere in them.
    alice->settings.sync();
    EXPECT_EQ(alice->settings.value("account/name").toString(), QLatin1String("Alice Ux"));
    QFile stored(alice->settings.fileName());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_FALSE(stored.readAll().contains("pw1"));
    // This test runs without a secret service: the window says the password was not kept.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return alice->app->buddyListWindow()->note().contains(
                QLatin1String("No secret service"));
        },
        kWaitMs))
        << alice->app->buddyListWindow()->note().toStdString();
    {
        // The note stands whole above the connection's status and leaves it in sight.
        BuddyListWindow* w = alice->app->buddyListWindow();
        auto* note = w->findChild<QLabel*>(QStringLiteral("note"));
        auto* status = w->findChild<QLabel*>(QStringLiteral("connectionStatus"));
        ASSERT_TRUE(note->isVisible());
        ASSERT_TRUE(status->isVisible());
        EXPECT_FALSE(QRect(note->mapTo(w, QPoint()), note->size())
                         .intersects(QRect(status->mapTo(w, QPoint()), status->size())));
        EXPECT_GE(note->height(), note->heightForWidth(note->width()));
        EXPECT_TRUE(status->text().startsWith(QLatin1String("Signed on as")))
            << status->text().toStdString();
    }

    // echobot is online in the tree; Enter on it opens the IM window; a message comes back.
    ASSERT_TRUE(alice->sees("echobot", true));
    BuddyListWindow* list = alice->app->buddyListWindow();
    const QModelIndex echobot =
        alice->app->buddies().buddyIndex(QStringLiteral("Buddies"), QStringLiteral("echobot"));
    ASSERT_TRUE(echobot.isValid());
    EXPECT_TRUE(
        echobot.data(Qt::ToolTipRole).toString().contains(QLatin1String("Warning level 0%")));
    ASSERT_TRUE(list->select(QStringLiteral("Buddies"), QStringLiteral("echobot")));
    QTest::keyClick(list->view(), Qt::Key_Return);
    ImWindow* toBot = alice->app->imWindow(ConversationStore::imKey(QStringLiteral("echobot")));
    ASSERT_NE(toBot, nullptr);
    ASSERT_TRUE(toBot->isVisible());
    auto* input = toBot->findChild<QLineEdit*>(QStringLiteral("input"));
    input->insert(QStringLiteral("héllo <b>there</b>"));  // QTest types ASCII only
    QTest::keyClick(input, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return linesOf(toBot->transcript()).size() == 2; }, kWaitMs));
    const QStringList botLines = linesOf(toBot->transcript());
    EXPECT_TRUE(botLines[0].endsWith(QStringLiteral("aliceux: héllo <b>there</b>")))
        << botLines[0].toStdString();
    EXPECT_TRUE(botLines[1].contains(QStringLiteral("EchoBot: héllo <b>there</b>")))
        << botLines[1].toStdString();

    // A second client's message opens a window by itself, marked unread until seen.
    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    const QString fromBobKey = ConversationStore::imKey(QStringLiteral("bob"));
    ImWindow* toAlice = bob->app->openIm(QStringLiteral("aliceux"));
    auto* bobInput = toAlice->findChild<QLineEdit*>(QStringLiteral("input"));
    QTest::keyClicks(bobInput, QStringLiteral("hi alice"));
    QTest::keyClick(bobInput, Qt::Key_Return);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return alice->app->imWindow(fromBobKey) != nullptr; }, kWaitMs));
    ImWindow* fromBob = alice->app->imWindow(fromBobKey);
    EXPECT_TRUE(fromBob->isVisible());
    EXPECT_TRUE(shows(fromBob->transcript(), QStringLiteral("bob: hi alice")));
    // What arrives while another window is in front counts as unread until its window is, and
    // asks for attention: a notification (nowhere to show one here) and the window urgent.
    press(list, Qt::Key_Shift, Qt::NoModifier);
    QStringList attention;
    QObject::connect(
        alice->app.get(), &Messenger::attentionRaised,
        [&](const QString& key, Notifier::Via via, bool urgent) {
            attention.append(QStringLiteral("%1 %2 %3").arg(key).arg(int(via)).arg(urgent));
        });

    // Markup from a message: no script, nothing loaded, no line that passes for another's.
    bob->app->connection().sendIm(
        QStringLiteral("aliceux"),
        QStringLiteral(
            "<script>alert(1)</script><img src=\"http://127.0.0.1:%1/profile/bob\">"
            "<a href=\"javascript:alert(2)\">x</a> <a href=\"http://example.com/\">ok</a>"
            "\n[12:00:00] EchoBot: forged<br>[12:00:01] Alice Ux: forged too")
            .arg(tocd_.port()));
    ASSERT_TRUE(shows(fromBob->transcript(), QStringLiteral("forged too")));
    EXPECT_EQ(alice->app->trayIcon()->unread(), 1);
    EXPECT_EQ(attention,
              QStringList{QStringLiteral("im:bob %1 1").arg(int(Notifier::Via::Nowhere))});
    press(fromBob, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(alice->app->trayIcon()->unread(), 0);
    const QStringList lines = linesOf(fromBob->transcript());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].contains(QLatin1String("] bob: <script>alert(1)</script><img src=")));
    for (int row = 0; row < lines.size(); ++row) {
        const QTextDocument* doc = fromBob->transcript()->lineDocument(row);
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            for (auto f = b.begin(); !f.atEnd(); ++f) {
                EXPECT_FALSE(f.fragment().charFormat().isImageFormat());
                const QString href = f.fragment().charFormat().anchorHref();
                EXPECT_TRUE(href.isEmpty() || href == QLatin1String("http://example.com/"))
                    << href.toStdString();
            }
        }
        EXPECT_FALSE(doc->toHtml().contains(QLatin1String("<img")));
    }

    // A buddy added in another session of the same account appears in this one.
    auto alice2 = session(QStringLiteral("alice2"));
    ASSERT_TRUE(alice2->signOnAs(tocd_.port(), QStringLiteral("aliceux")));
    answerAddBuddy(QStringLiteral("bob"), QStringLiteral("Friends"));
    press(alice2->app->buddyListWindow(), Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alice->app->buddies().contains(QStringLiteral("bob")); }, kWaitMs));
    EXPECT_TRUE(alice->app->buddies().groupIndex(QStringLiteral("Friends")).isValid());
    alice2.reset();

    // Away and back, as the other client sees it, with the automatic answer marked; an
    // automatic answer is never answered, or two people away would answer each other forever.
    ASSERT_TRUE(alice->sees("bob", true));
    bob->app->setAwayMessage(QStringLiteral("Out for <lunch> & tea"));
    alice->app->setAwayMessage(QStringLiteral("Gone too"));
    ASSERT_TRUE(alice->sees("bob", true, true));
    const QModelIndex bobRow =
        alice->app->buddies().buddyIndex(QStringLiteral("Friends"), QStringLiteral("bob"));
    EXPECT_TRUE(bobRow.data().toString().endsWith(QLatin1String("(away)")));
    auto* aliceToBob = fromBob->findChild<QLineEdit*>(QStringLiteral("input"));
    QTest::keyClicks(aliceToBob, QStringLiteral("are you there?"));
    QTest::keyClick(aliceToBob, Qt::Key_Return);
    EXPECT_TRUE(
        shows(fromBob->transcript(), QStringLiteral("bob (auto reply): Out for <lunch> & tea")));
    alice->app->setAwayMessage({});
    QTest::keyClicks(aliceToBob, QStringLiteral("back now"));
    QTest::keyClick(aliceToBob, Qt::Key_Return);
    ASSERT_TRUE(shows(toAlice->transcript(), QStringLiteral("back now")));
    EXPECT_FALSE(linesOf(toAlice->transcript()).join(u'\n').contains(QLatin1String("Gone too")));
    bob->app->setAwayMessage({});
    EXPECT_TRUE(alice->sees("bob", true, false));

    // Typing shows in the other person's window.
    QTest::keyClicks(bobInput, QStringLiteral("typ"));
    auto* typing = fromBob->findChild<QLabel*>(QStringLiteral("typing"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return typing->text() == QLatin1String("bob is typing ..."); }, kWaitMs));
    bobInput->clear();

    // A profile written in the editor is fetched from the server's page by the other client.
    auto* fillProfile = new QTimer(qApp);
    QObject::connect(fillProfile, &QTimer::timeout, fillProfile, [fillProfile] {
        auto* editor = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!editor || editor->objectName() != QLatin1String("profileEditor"))
            return;
        editor->findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("Tea & cake, 9-5"));
        editor->accept();
        fillProfile->deleteLater();
    });
    fillProfile->start(20);
    press(bob->app->buddyListWindow(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(list->select(QStringLiteral("Friends"), QStringLiteral("bob")));
    press(list, Qt::Key_I, Qt::ControlModifier);
    ASSERT_NE(alice->app->lastProfileViewer(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return alice->app->lastProfileViewer()->status() == QLatin1String("Profile fetched.");
        },
        kWaitMs))
        << alice->app->lastProfileViewer()->status().toStdString();
    EXPECT_TRUE(alice->app->lastProfileViewer()->page()->toPlainText().contains(
        QLatin1String("Tea & cake, 9-5")));

    // A room: joined by name from the menu, the second client comes in, both talk.
    answerQuestions({QStringLiteral("Tea Room")});
    press(list, Qt::Key_J, Qt::ControlModifier);
    const QString roomKey = ConversationStore::roomKey(QStringLiteral("Tea Room"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return alice->app->roomWindow(roomKey) != nullptr; }, kWaitMs));
    ChatRoomWindow* aliceRoom = alice->app->roomWindow(roomKey);
    // bob comes in on alice's invitation, which his messenger asks him about, markup as text.
    const auto invite = [&](const QString& text) {
        answerQuestions({QStringLiteral("bob"), text});
        press(aliceRoom, Qt::Key_I, Qt::AltModifier);
        QMessageBox* box = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->objectName() == QLatin1String("invitation") && w->isVisible())
                        box = qobject_cast<QMessageBox*>(w);
                return box != nullptr;
            },
            kWaitMs));
        return box;
    };
    QMessageBox* invitation = invite(QStringLiteral("Come <b>now</b>"));
    ASSERT_NE(invitation, nullptr);
    EXPECT_TRUE(invitation->text().contains(
        QLatin1String("aliceux invites you to the room Tea Room:\n\nCome now")))
        << invitation->text().toStdString();
    invitation->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bob->app->roomWindow(roomKey) != nullptr; }, kWaitMs));
    ChatRoomWindow* bobRoom = bob->app->roomWindow(roomKey);
    const auto members = [](ChatRoomWindow* w) {
        QStringList names;
        for (int i = 0; i < w->memberList()->count(); ++i)
            names.append(w->memberList()->item(i)->text());
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    const QStringList both{QStringLiteral("aliceux"), QStringLiteral("bob")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return members(aliceRoom) == both; }, kWaitMs))
        << members(aliceRoom).join(',').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return members(bobRoom) == both; }, kWaitMs))
        << members(bobRoom).join(',').toStdString();
    auto* bobSays = bobRoom->findChild<QLineEdit*>(QStringLiteral("input"));
    QTest::keyClicks(bobSays, QStringLiteral("tea, anyone?"));
    QTest::keyClick(bobSays, Qt::Key_Return);
    EXPECT_TRUE(shows(aliceRoom->transcript(), QStringLiteral("bob: tea, anyone?")));
    auto* aliceSays = aliceRoom->findChild<QLineEdit*>(QStringLiteral("input"));
    QTest::keyClicks(aliceSays, QStringLiteral("yes please"));
    QTest::keyClick(aliceSays, Qt::Key_Return);
    EXPECT_TRUE(shows(bobRoom->transcript(), QStringLiteral("aliceux: yes please")));
    bobRoom->close();
    const QStringList aliceAlone{QStringLiteral("aliceux")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return members(aliceRoom) == aliceAlone; }, kWaitMs));
    // Declined, an invitation takes nobody in: bob's next message comes after any answer.
    invitation = invite(QStringLiteral("Again?"));
    ASSERT_NE(invitation, nullptr);
    invitation->button(QMessageBox::No)->click();
    bob->app->connection().sendIm(QStringLiteral("aliceux"), QStringLiteral("no, thanks"));
    ASSERT_TRUE(shows(fromBob->transcript(), QStringLiteral("no, thanks")));
    EXPECT_EQ(members(aliceRoom), aliceAlone);

    // Blocking from the list while everyone may write switches to blocking the block list.
    EXPECT_EQ(alice->app->privacyMode(), 1);
    ASSERT_TRUE(list->select(QStringLiteral("Friends"), QStringLiteral("bob")));
    press(list, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(alice->app->isBlocked(QStringLiteral("bob")));
    EXPECT_EQ(alice->app->privacyMode(), 4);
    EXPECT_TRUE(list->note().contains(QLatin1String("Everyone but the people I blocked")));
}

// The buddy list as alice sees bob: added under a name typed with capitals and blanks and shown
// as the server formats it; counted online in his group while away or idle, no longer once he
// signs off, and then hidden when offline buddies are not shown. The window opens wide enough
// for its menus, elides a long status and offers the selected buddy to Ctrl+N. The view's
// choices, the server and the screen name come back after a restart; the password does not
// without "remember me".
TEST_F(MessengerWindows, BuddyListFollowsPresenceAndKeepsItsChoices) {
    auto alice = session(QStringLiteral("alice"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("Alice")));
    BuddyListWindow* list = alice->app->buddyListWindow();
    const QMenuBar* bar = list->menuBar();
    const QList<QAction*> menus = bar->actions();
    EXPECT_GE(list->width(), bar->sizeHint().width());
    EXPECT_EQ(bar->actionGeometry(menus.first()).top(), bar->actionGeometry(menus.last()).top());
    EXPECT_LE(bar->actionGeometry(menus.last()).right(), bar->width());

    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    answerAddBuddy(QStringLiteral("B O B"), QStringLiteral("Friends"));
    press(list, Qt::Key_B, Qt::ControlModifier);
    BuddyListModel& buddies = alice->app->buddies();
    const auto bobShown = [&] {
        return buddies.buddyIndex(QStringLiteral("Friends"), QStringLiteral("bob"))
            .data(BuddyListModel::ShownNameRole)
            .toString();
    };
    const auto friends = [&] {
        return buddies.groupIndex(QStringLiteral("Friends")).data().toString();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return bobShown() == QLatin1String("bob"); }, kWaitMs))
        << bobShown().toStdString();
    bob->app->formatScreenName(QStringLiteral("Bo B"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bobShown() == QLatin1String("Bo B"); }, kWaitMs))
        << bobShown().toStdString();
    EXPECT_EQ(friends(), QStringLiteral("Friends (1/1)"));
    bob->app->setAwayMessage(QStringLiteral("out"));
    ASSERT_TRUE(alice->sees("bob", true, true));
    EXPECT_EQ(friends(), QStringLiteral("Friends (1/1)"));
    bob->app->setAwayMessage({});
    bob->app->connection().call(lantry::DispId::SetIdleTime, {12});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return buddies.presence(QStringLiteral("bob")).idleMinutes >= 12; }, kWaitMs));
    EXPECT_EQ(friends(), QStringLiteral("Friends (1/1)"));

    auto* showOffline = list->findChild<QAction*>(QStringLiteral("showOffline"));
    ASSERT_TRUE(showOffline->isChecked());
    showOffline->trigger();
    EXPECT_FALSE(alice->app->shownBuddies().showsOffline());
    const auto bobInView = [&] {
        return alice->app->shownBuddies()
            .mapFromSource(buddies.buddyIndex(QStringLiteral("Friends"), QStringLiteral("bob")))
            .isValid();
    };
    EXPECT_TRUE(bobInView());
    bob.reset();
    ASSERT_TRUE(alice->sees("bob", false));
    EXPECT_EQ(friends(), QStringLiteral("Friends (0/1)"));
    EXPECT_FALSE(bobInView());
    list->findChild<QAction*>(QStringLiteral("sortByName"))->trigger();

    // A status longer than the window is elided, and whole in its tooltip.
    auto* status = list->findChild<QLabel*>(QStringLiteral("connectionStatus"));
    const QString longStatus =
        QStringLiteral("Connection lost: ") + QStringLiteral("far ").repeated(60);
    list->setConnectionStatus(longStatus, true);
    EXPECT_EQ(list->connectionStatus(), longStatus);
    EXPECT_EQ(status->toolTip(), longStatus);
    EXPECT_NE(status->text(), longStatus);
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->width());
    EXPECT_LE(status->width(), list->width());

    // Ctrl+N offers the selected buddy's name.
    ASSERT_TRUE(list->select(QStringLiteral("Buddies"), QStringLiteral("echobot")));
    QString offered;
    auto* cancel = new QTimer(qApp);
    QObject::connect(cancel, &QTimer::timeout, cancel, [&offered, cancel] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        offered = dialog->textValue();
        dialog->reject();
        cancel->deleteLater();
    });
    cancel->start(20);
    press(list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(offered, QStringLiteral("echobot"));

    alice.reset();
    auto again = session(QStringLiteral("alice"));
    EXPECT_FALSE(again->app->shownBuddies().showsOffline());
    EXPECT_EQ(again->app->shownBuddies().sortBy(), BuddyListProxy::SortBy::Name);
    BuddyListWindow* list2 = again->app->buddyListWindow();
    EXPECT_FALSE(list2->findChild<QAction*>(QStringLiteral("showOffline"))->isChecked());
    EXPECT_TRUE(list2->findChild<QAction*>(QStringLiteral("sortByName"))->isChecked());
    EXPECT_EQ(again->field<QLineEdit>("server")->text(),
              QStringLiteral("127.0.0.1:%1").arg(tocd_.port()));
    EXPECT_EQ(again->field<QLineEdit>("screenName")->text(), QStringLiteral("Alice"));
    EXPECT_TRUE(again->field<QLineEdit>("password")->text().isEmpty());
    EXPECT_FALSE(again->field<QCheckBox>("rememberMe")->isChecked());
}

// As a keyboard and a screen reader meet the windows: every field and button of the sign-on
// window has an accessible name, as do the buddy list and a conversation's transcript and
// input; Enter on "Remember me" signs on; every dialog of the buddy list has one default
// button; Alt+S saves the profile instead of typing an "s".
TEST_F(MessengerWindows, KeyboardAndScreenReaderReachEverything) {
    auto kim = session(QStringLiteral("kim"));
    SignOnWindow* signOn = kim->signOn();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(signOn));
    QStringList unnamed;
    int focusable = 0;
    for (QWidget* w : signOn->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus)
            continue;
        ++focusable;
        if (w->accessibleName().isEmpty())
            unnamed.append(w->objectName());
    }
    EXPECT_EQ(focusable, 5);
    EXPECT_EQ(unnamed, QStringList{});

    kim->field<QLineEdit>("server")->setText(QStringLiteral("127.0.0.1:%1").arg(tocd_.port()));
    kim->field<QLineEdit>("screenName")->setText(QStringLiteral("kim"));
    kim->field<QLineEdit>("password")->setText(QStringLiteral("pw1"));
    QTest::keyClick(kim->field<QCheckBox>("rememberMe"), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return kim->app->connection().state() == State::SignedOn; },
                                kWaitMs));
    BuddyListWindow* list = kim->app->buddyListWindow();
    EXPECT_FALSE(list->view()->accessibleName().isEmpty());
    ImWindow* im = kim->app->openIm(QStringLiteral("echobot"));
    EXPECT_FALSE(im->transcript()->accessibleName().isEmpty());
    EXPECT_FALSE(im->findChild<QLineEdit*>(QStringLiteral("input"))->accessibleName().isEmpty());

    AddBuddyDialog add({QStringLiteral("Buddies")}, {}, list);
    ProfileEditor profile(QStringLiteral("Tea"), list);
    AwayDialog away({}, list);
    SettingsDialog settings(SettingsDialog::AllowEveryone, {}, {}, true, list);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&add, &profile, &away, &settings}) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        dialog->show();
        const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
        EXPECT_EQ(std::count_if(buttons.begin(), buttons.end(),
                                [](const QPushButton* b) { return b->isDefault(); }),
                  1);
        if (dialog != &profile)
            dialog->hide();
    }
    auto* text = profile.findChild<QPlainTextEdit*>(QStringLiteral("profileText"));
    text->moveCursor(QTextCursor::End);
    profile.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&profile));
    QTest::keyClick(text, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return profile.result() == QDialog::Accepted; }, kWaitMs));
    EXPECT_EQ(profile.profile(), QStringLiteral("Tea"));
}

// The desktop's notification service as a test plays it on the run's private session bus: it
// can show markup in bodies and records the summary and body of each notification.
class FakeNotifications : public QDBusVirtualObject {
public:
    QStringList notes;  // "summary | body"
    int askedCapabilities = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() == QLatin1String("GetCapabilities")) {
            ++askedCapabilities;
            return bus.send(message.createReply(
                QVariant(QStringList{QStringLiteral("body"), QStringLiteral("body-markup")})));
        }
        if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8)
            return false;
        notes.append(message.arguments()[3].toString() + QStringLiteral(" | ") +
                     message.arguments()[4].toString());
        return bus.send(message.createReply(QVariant(uint(notes.size()))));
    }
};

// A message arriving in a window that is not active is shown by the desktop's notification
// service: who sent it, and its text as plain text, escaped for a service that reads markup.
TEST_F(MessengerWindows, AMessageInAnInactiveWindowRaisesADesktopNotification) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty())
        GTEST_SKIP() << "no private session bus: " << PrivateSessionBus::problem.toStdString();
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    const QString connectionName = QStringLiteral("fake-notifications");
    FakeNotifications notifications;
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), connectionName);
    ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &notifications));
    ASSERT_TRUE(bus.registerService(service));

    auto alice = session(QStringLiteral("alice"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications.askedCapabilities > 0; }, kWaitMs));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    press(alice->app->buddyListWindow(), Qt::Key_Shift, Qt::NoModifier);
    QList<Notifier::Via> via;
    QObject::connect(alice->app.get(), &Messenger::attentionRaised,
                     [&](const QString&, Notifier::Via v, bool) { via.append(v); });
    bob->app->connection().sendIm(
        QStringLiteral("alice"),
        QStringLiteral("<b>5 &lt; 6</b> &amp; <a href=\"http://example.com/\">7</a>"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications.notes.isEmpty(); }, kWaitMs));
    EXPECT_EQ(notifications.notes,
              QStringList{QStringLiteral("Message from bob | 5 &lt; 6 &amp; 7")})
        << notifications.notes.join(u'/').toStdString();
    EXPECT_EQ(via, QList<Notifier::Via>{Notifier::Via::Service});

    bus.unregisterService(service);
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(connectionName);
}

// The next command the client sends that starts with `prefix` (others are skipped), or "".
QByteArray awaitCommand(lantry::testing::ScriptedPeer& peer, const QByteArray& prefix) {
    for (int tries = 0; tries < 50; ++tries) {
        const QByteArray command = peer.readCommand();
        if (command.startsWith(prefix))
            return command;
    }
    return {};
}

// A hostile server, played from a thread of its own: thousands of invitations (names that
// reorder text, one sender many times, many rooms), then profile addresses that point away
// from it. The messenger asks one question at a time, folds repeats, drops past its bound,
// ignores a sender on request, and fetches no page from another host, redirected or not.
TEST_F(MessengerWindows, HostileServerFloodsInvitationsAndPointsProfilesElsewhere) {
    constexpr int kRepeats = 1000;
    std::promise<quint16> portPromise;
    std::future<quint16> portFuture = portPromise.get_future();
    std::atomic<bool> finished{false};
    std::atomic<bool> elsewhereReached{false};
    QByteArray accepted;
    std::thread server([&] {
        lantry::testing::ScriptedPeer peer;
        QTcpServer web, elsewhere;
        web.listen(QHostAddress::LocalHost, 0);
        elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        const QByteArray away = "//127.0.0.2:" + QByteArray::number(elsewhere.serverPort()) + "/p";
        portPromise.set_value(peer.port());
        if (!peer.serveSignOn("done:\n"))
            return;
        peer.send(2, "CHAT_INVITE:Den\xe2\x80\xa8x:7:eve\xe2\x80\xae:<h1>big</h1>");
        for (int i = 0; i < 2 * kRepeats; ++i)
            peer.send(
                2, i % 2 ? "CHAT_INVITE:Den 1:101:trudy:come" : "CHAT_INVITE:Den 0:100:mallory:hi");
        for (int i = 0; i < kRepeats; ++i)
            peer.send(2, "CHAT_INVITE:R" + QByteArray::number(i) + ":" +
                             QByteArray::number(1000 + i) + ":spam:buy");
        peer.send(2, "IM_IN_ENC2:zed:F:F:T: O :F:L:en:flood over");
        accepted = awaitCommand(peer, "toc_chat_accept");
        if (awaitCommand(peer, "toc_get_info").isEmpty())
            return;
        peer.send(2, "CHAT_INVITE:R9999:9999:spam:again");
        peer.send(2, "GOTO_URL:profile:" + away);
        if (awaitCommand(peer, "toc_get_info").isEmpty())
            return;
        peer.send(
            2, "GOTO_URL:profile:http://127.0.0.1:" + QByteArray::number(web.serverPort()) + "/p");
        if (web.waitForNewConnection(10000)) {
            std::unique_ptr<QTcpSocket> get(web.nextPendingConnection());
            QByteArray asked;
            while (!asked.contains("\r\n\r\n") && get->waitForReadyRead(5000))
                asked += get->readAll();
            get->write("HTTP/1.1 302 Found\r\nLocation: http:" + away +
                       "\r\nContent-Length: 0\r\n\r\n");
            get->waitForBytesWritten(5000);
            elsewhereReached = elsewhere.waitForNewConnection(1000);
        }
        while (!finished)
            peer.readCommand();
    });
    struct Join {
        std::thread& t;
        std::atomic<bool>& finished;
        ~Join() {
            finished = true;
            if (t.joinable())
                t.join();
        }
    } join{server, finished};
    ASSERT_EQ(portFuture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(bob->signOnAs(portFuture.get(), QStringLiteral("bob")));
    const QString zedKey = ConversationStore::imKey(QStringLiteral("zed"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bob->app->imWindow(zedKey) != nullptr; }, kWaitMs));

    // One question on screen, whatever came; the rest wait, folded, up to the bound.
    const auto questions = [] {
        QList<QMessageBox*> shown;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("invitation") && w->isVisible())
                shown.append(qobject_cast<QMessageBox*>(w));
        return shown;
    };
    const auto nextQuestion = [&](QMessageBox* after) -> QMessageBox* {
        QMessageBox* box = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                const auto shown = questions();
                box = shown.size() == 1 && shown[0] != after ? shown[0] : nullptr;
                return box != nullptr;
            },
            kWaitMs);
        return box;
    };
    QMessageBox* box = nextQuestion(nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(questions().size(), 1);
    EXPECT_EQ(bob->app->invitations().waiting(), InvitationQueue::kMaxWaiting);
    EXPECT_TRUE(
        bob->app->buddyListWindow()->note().contains(QLatin1String("invitations were dropped")));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_TRUE(box->text().startsWith(
        QLatin1String("eve<U+202E> invites you to the room Den<U+2028>x:\n\n<h1>big</h1>")))
        << box->text().toStdString();
    box->button(QMessageBox::No)->click();
    box = nextQuestion(box);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(
        QLatin1String("mallory invites you to the room Den 0 (1000 invitations")))
        << box->text().toStdString();
    box->button(QMessageBox::Yes)->click();
    box = nextQuestion(box);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(QLatin1String("trudy invites you to the room Den 1")));
    box->button(QMessageBox::No)->click();
    box = nextQuestion(box);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(QLatin1String("spam invites you to the room R0:")));
    box->findChild<QPushButton*>(QStringLiteral("ignore"))->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return questions().isEmpty() && bob->app->invitations().waiting() == 0; }, kWaitMs));

    // Profile pages: one elsewhere is a link, not fetched; a redirect elsewhere is not followed.
    ImWindow* zed = bob->app->imWindow(zedKey);
    QPushButton* info = nullptr;
    for (QPushButton* b : zed->findChildren<QPushButton*>())
        if (b->text() == QLatin1String("&Info"))
            info = b;
    ASSERT_NE(info, nullptr);
    info->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return bob->app->lastProfileViewer() &&
                   bob->app->lastProfileViewer()->status().contains(QLatin1String("another host"));
        },
        kWaitMs));
    EXPECT_TRUE(bob->app->lastProfileViewer()->page()->toPlainText().startsWith(
        QLatin1String("http://127.0.0.2:")));
    EXPECT_TRUE(questions().isEmpty());  // spam's later invitation is ignored too
    info->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return bob->app->lastProfileViewer()->status().startsWith(
                QLatin1String("The profile could not be fetched"));
        },
        3 * kWaitMs))
        << bob->app->lastProfileViewer()->status().toStdString();
    bob.reset();
    finished = true;
    server.join();
    EXPECT_EQ(accepted, "toc_chat_accept \"100\"");
    EXPECT_FALSE(elsewhereReached);
}

// Past the server's rate limit, messages are held back in order: each shows as waiting under
// the transcript until it has gone out, then as sent; signing off with some still waiting says
// they were not sent.
TEST_F(MessengerWindows, MessagesHeldForTheRateLimitWaitVisiblyUntilTheyGoOut) {
    auto alice = session(QStringLiteral("alice"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    ImWindow* window = alice->app->openIm(QStringLiteral("echobot"));
    auto* input = window->findChild<QLineEdit*>(QStringLiteral("input"));
    auto* waiting = window->findChild<QLabel*>(QStringLiteral("waiting"));
    const auto sent = [&] {
        return linesOf(window->transcript()).filter(QStringLiteral("alice: m")).size();
    };
    for (int i = 0; i < 8; ++i) {
        input->insert(QStringLiteral("m%1").arg(i));
        QTest::keyClick(input, Qt::Key_Return);
    }
    EXPECT_TRUE(waiting->isVisible());
    EXPECT_TRUE(waiting->text().contains(QStringLiteral("m7"))) << waiting->text().toStdString();
    EXPECT_FALSE(waiting->text().contains(QStringLiteral("m0")));
    EXPECT_LT(sent(), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent() == 8; }, 3 * kWaitMs));
    EXPECT_FALSE(waiting->isVisible());
    const QStringList ours = linesOf(window->transcript()).filter(QStringLiteral("alice: m"));
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(ours[i].endsWith(QStringLiteral("alice: m%1").arg(i))) << ours[i].toStdString();

    for (const QString& text : {QStringLiteral("late"), QStringLiteral("later")}) {
        input->insert(text);
        QTest::keyClick(input, Qt::Key_Return);
    }
    ASSERT_TRUE(waiting->isVisible()) << "the average is still at its floor";
    alice->app->connection().signOff();
    EXPECT_TRUE(shows(window->transcript(),
                      QStringLiteral("Not sent (the connection ended first): later")));
    EXPECT_EQ(linesOf(window->transcript())
                  .filter(QRegularExpression(QStringLiteral("first\\): late$")))
                  .size(),
              1);
    EXPECT_FALSE(waiting->isVisible());
}

// The messages `session` received in the conversation `key`.
qsizetype receivedCount(Session& session, const QString& key) {
    const Conversation* c = session.conversation(key);
    return c ? std::count_if(c->transcript->lines().begin(), c->transcript->lines().end(),
                             [](const ChatLine& l) { return l.kind == ChatLine::Kind::Incoming; })
             : 0;
}

// Typed text reaches the other side exactly as typed, through tocd: what the wire carried is
// markup with the typed characters escaped and only the formatting chosen (Ctrl+B/I/U or the
// format bar) as tags, and the receiver's transcript shows the typed characters. A long
// formatted message goes in parts that each carry the formatting whole.
TEST_F(MessengerWindows, TypedTextArrivesAsTypedWithTheChosenFormatting) {
    auto alice = session(QStringLiteral("alice"));
    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    ImWindow* window = alice->app->openIm(QStringLiteral("bob"));
    auto* input = window->findChild<QLineEdit*>(QStringLiteral("input"));
    const QString fromAlice = ConversationStore::imKey(QStringLiteral("alice"));
    const auto format = [&](const char* name) {
        return window->findChild<QToolButton*>(QLatin1String(name));
    };
    for (const char* name : {"bold", "italic", "underline"}) {
        ASSERT_NE(format(name), nullptr) << name;
        EXPECT_TRUE(format(name)->isCheckable());
        EXPECT_FALSE(format(name)->accessibleName().isEmpty());
    }
    const struct {
        const char* typed;
        const char* press;  // format keys pressed in the line before typing
        const char* click;  // format buttons clicked before typing
        const char* wire;
    } rows[] = {
        {"<3 x<y a & b <b>c</b> &amp; \"q\" \u00e9", "", "",
         "&lt;3 x&lt;y a &amp; b &lt;b&gt;c&lt;/b&gt; &amp;amp; &quot;q&quot; \u00e9"},
        {"bold <i>", "BU", "", "<b><u>bold &lt;i&gt;</u></b>"},
        {"it", "", "biu", "<i>it</i>"},
        {"see http://a.example/.", "", "i", "see http://a.example/."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        // Shortcuts reach the active window only; bob's window, opened by a message, may be.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        for (const char* key = row.press; *key; ++key)
            QTest::keyClick(input, Qt::Key(*key), Qt::ControlModifier);
        for (const char* name = row.click; *name; ++name)
            format(*name == 'b' ? "bold" : *name == 'i' ? "italic" : "underline")->click();
        input->insert(QString::fromUtf8(row.typed));
        const qsizetype before = receivedCount(*bob, fromAlice);
        QTest::keyClick(input, Qt::Key_Return);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return receivedCount(*bob, fromAlice) > before; }, kWaitMs));
        EXPECT_EQ(bob->conversation(fromAlice)->transcript->lines().constLast().text.toStdString(),
                  row.wire);
    }
    // The address is a link on both sides.
    for (Session* s : {alice.get(), bob.get()}) {
        const QString key =
            ConversationStore::imKey(QLatin1String(s == bob.get() ? "alice" : "bob"));
        EXPECT_TRUE(s->conversation(key)->transcript->lines().constLast().html.contains(
            QLatin1String("<a href=\"http://a.example/\"")));
    }
    // The find bar finds typed text as it was typed, not as the markup sent.
    window->find(QStringLiteral("x<y a & b"));
    EXPECT_EQ(window->findStatus(), QString());
    EXPECT_TRUE(linesOf(window->transcript())
                    .value(window->transcript()->selectedRow())
                    .endsWith(QStringLiteral("alice: <3 x<y a & b <b>c</b> &amp; \"q\" é")));
    const auto shown = linesOf(bob->app->imWindow(fromAlice)->transcript());
    EXPECT_TRUE(
        shown.first().endsWith(QStringLiteral("alice: <3 x<y a & b <b>c</b> &amp; \"q\" é")))
        << shown.first().toStdString();

    // Bold alone, then a message three commands long with references and tags at every
    // offset: each part arrives bold, no part with a tag or a reference cut in two.
    press(window, Qt::Key_B, Qt::ControlModifier);
    const QString typed = QStringLiteral("<\u00e9>&;").repeated(300);
    input->setText(typed);
    const qsizetype before = receivedCount(*bob, fromAlice);
    QTest::keyClick(input, Qt::Key_Return);
    const auto parts = [&] {
        const QList<ChatLine>& lines = bob->conversation(fromAlice)->transcript->lines();
        return lines.mid(lines.size() - (receivedCount(*bob, fromAlice) - before));
    };
    const auto joined = [&] {
        QString text;
        for (const ChatLine& part : parts())
            text += QTextDocumentFragment::fromHtml(part.html).toPlainText();
        return text;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return joined() == typed; }, 3 * kWaitMs))
        << joined().toStdString();
    EXPECT_EQ(parts().size(), 3);
    for (const ChatLine& part : parts()) {
        EXPECT_TRUE(part.text.startsWith(QLatin1String("<b>")) &&
                    part.text.endsWith(QLatin1String("</b>")))
            << part.text.left(20).toStdString() << " ... " << part.text.right(20).toStdString();
    }
    EXPECT_TRUE(shows(window->transcript(), QStringLiteral("Sent in 3 parts")));

    // In a room the same: bold off again, italic on.
    for (Session* s : {alice.get(), bob.get()})
        s->app->connection().call(lantry::DispId::JoinChat, {QStringLiteral("Compose"), 4});
    const QString roomKey = ConversationStore::roomKey(QStringLiteral("Compose"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alice->app->roomWindow(roomKey) && bob->app->roomWindow(roomKey); }, kWaitMs));
    ChatRoomWindow* room = alice->app->roomWindow(roomKey);
    auto* says = room->findChild<QLineEdit*>(QStringLiteral("input"));
    press(room, Qt::Key_I, Qt::ControlModifier);
    says->insert(QStringLiteral("a<b & <u>"));
    QTest::keyClick(says, Qt::Key_Return);
    EXPECT_TRUE(
        shows(bob->app->roomWindow(roomKey)->transcript(), QStringLiteral("alice: a<b & <u>")));
    EXPECT_EQ(bob->conversation(roomKey)->transcript->lines().constLast().text,
              QStringLiteral("<i>a&lt;b &amp; &lt;u&gt;</i>"));
}

// While away, each person gets the away message once, however many messages they send; coming
// back and going away again answers them once more. Counted where it is sent, and where it
// arrives.
TEST_F(MessengerWindows, TheAwayMessageAnswersEachPersonOncePerAbsence) {
    auto alice = session(QStringLiteral("alice"));
    auto bob = session(QStringLiteral("bob"));
    auto carol = session(QStringLiteral("carol"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    ASSERT_TRUE(carol->signOnAs(tocd_.port(), QStringLiteral("carol")));
    const auto sentTo = [&](const char* who) {
        const Conversation* c =
            alice->conversation(ConversationStore::imKey(QString::fromLatin1(who)));
        return c ? std::count_if(
                       c->transcript->lines().begin(), c->transcript->lines().end(),
                       [](const ChatLine& l) { return l.kind == ChatLine::Kind::AutoReply; })
                 : 0;
    };
    const struct {
        const char* step;  // "away", "back" or who writes to alice
        int toBob, toCarol;
    } rows[] = {
        {"away", 0, 0}, {"bob", 1, 0},  {"bob", 1, 0},   {"carol", 1, 1},
        {"bob", 1, 1},  {"back", 1, 1}, {"bob", 1, 1},   {"away", 1, 1},
        {"bob", 2, 1},  {"bob", 2, 1},  {"carol", 2, 2},
    };
    int said = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(&row - rows) + row.step);
        const QString step = QString::fromLatin1(row.step);
        if (step == u"away") {
            alice->app->setAwayMessage(QStringLiteral("Out"));
        } else if (step == u"back") {
            alice->app->setAwayMessage({});
        } else {
            Session& from = step == u"bob" ? *bob : *carol;
            const QString text = QStringLiteral("m%1").arg(++said);
            from.app->connection().sendIm(QStringLiteral("alice"), text);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    const ImWindow* w = alice->app->imWindow(ConversationStore::imKey(step));
                    return w && linesOf(w->transcript()).join(u'\n').contains(text);
                },
                kWaitMs));
        }
        EXPECT_EQ(sentTo("bob"), row.toBob);
        EXPECT_EQ(sentTo("carol"), row.toCarol);
    }
    // Behind a message of alice's, every automatic answer sent before it has arrived.
    const QString fromAlice = ConversationStore::imKey(QStringLiteral("alice"));
    alice->app->connection().sendIm(QStringLiteral("bob"), QStringLiteral("mark"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const ImWindow* w = bob->app->imWindow(fromAlice);
            return w && linesOf(w->transcript()).join(u'\n').contains(QLatin1String("alice: mark"));
        },
        kWaitMs));
    const QList<ChatLine>& got = bob->conversation(fromAlice)->transcript->lines();
    EXPECT_EQ(std::count_if(got.begin(), got.end(),
                            [](const ChatLine& l) { return l.kind == ChatLine::Kind::AutoReply; }),
              2);
}

// Received text in the messenger's dialogs and labels shows as text: names exactly as they
// came, messages as their text, never as markup that formats, loads or hides anything.
TEST_F(MessengerWindows, ReceivedTextShowsAsTextInEveryDialogAndLabel) {
    using lantry::EventNumber;
    const QString hostile = QStringLiteral("<b>x</b>&amp;<img src=\"http://127.0.0.1:9/t.png\">");
    auto alice = session(QStringLiteral("alice"));
    Messenger& app = *alice->app;
    const auto event = [&](EventNumber n, const QVariantList& args) {
        emit app.connection().controlEvent(int(n), args);
    };
    // What a label shows a person: its text, or the text of its markup when taken as markup.
    const auto displayed = [](const QLabel* label) {
        if (!label)
            return QString();
        const bool rich =
            label->textFormat() == Qt::RichText ||
            (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        return rich ? QTextDocumentFragment::fromHtml(label->text()).toPlainText() : label->text();
    };
    // The question on screen, answered No.
    const auto question = [&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        const QString shown =
            box ? displayed(box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) : QString();
        if (box)
            box->reject();
        return shown;
    };
    const struct {
        const char* field;
        std::function<QString()> show;
        QString expected;
    } rows[] = {
        {"invitation: sender and room",
         [&] {
             event(EventNumber::ChatInvite, {hostile, 7, hostile, hostile});
             return question(QApplication::activeModalWidget());
         },
         hostile + QStringLiteral(" invites you to the room ") + hostile},
        // The invitation's text is a message: its text, kept tags gone, the others as text.
        {"invitation: text",
         [&] {
             event(EventNumber::ChatInvite, {QStringLiteral("r"), 8, QStringLiteral("s"), hostile});
             return question(QApplication::activeModalWidget());
         },
         QStringLiteral(":\n\nx&<img src=\"http://127.0.0.1:9/t.png\">")},
        {"confirming a warning",
         [&] {
             QString shown;
             QTimer::singleShot(0, [&] { shown = question(QApplication::activeModalWidget()); });
             app.askToWarn(hostile);
             return shown;
         },
         QStringLiteral("Warn ") + hostile + u'?'},
        {"typing notice",
         [&] {
             event(EventNumber::InstantMessage, {hostile, QStringLiteral("hi"), false});
             event(EventNumber::TypingStatus, {hostile, 2});
             ImWindow* w = app.imWindow(ConversationStore::imKey(hostile));
             return w ? displayed(w->findChild<QLabel*>(QStringLiteral("typing"))) : QString();
         },
         hostile + QStringLiteral(" is typing")},
        {"profile failure",
         [&] {
             ProfileViewer viewer(shownText(hostile));
             viewer.fail(shownText(hostile));
             return displayed(viewer.findChild<QLabel*>());
         },
         hostile},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field);
        const QString shown = row.show();
        EXPECT_TRUE(shown.contains(row.expected)) << shown.toStdString();
    }
}

// History across a restart of the messenger: a reopened conversation shows its latest lines,
// scrolled to the last; Ctrl+F finds a line, further back in the history when needed; the
// History window finds lines of every conversation; logging off keeps nothing new.
TEST_F(MessengerWindows, HistoryIsShownOnReopenAndFoundBySearch) {
    const int spoken = HistoryStore::kLinesPerLoad + 20;
    {
        auto alice = session(QStringLiteral("alice"));
        ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
        ImWindow* window = alice->app->openIm(QStringLiteral("echobot"));
        auto* input = window->findChild<QLineEdit*>(QStringLiteral("input"));
        alice->app->conversations().addNotice(window->key(), QStringLiteral("first of all"));
        for (int i = 0; i < spoken; ++i)
            alice->app->conversations().addNotice(window->key(),
                                                  QStringLiteral("filler %1").arg(i));
        input->insert(QStringLiteral("x<y and <3"));
        QTest::keyClick(input, Qt::Key_Return);
        ASSERT_TRUE(shows(window->transcript(), QStringLiteral("EchoBot: x<y and <3")));
    }
    auto alice = session(QStringLiteral("alice"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    ImWindow* window = alice->app->openIm(QStringLiteral("echobot"));
    ASSERT_TRUE(shows(window->transcript(), QStringLiteral("EchoBot: x<y and <3")));
    EXPECT_EQ(linesOf(window->transcript()).size(), HistoryStore::kLinesPerLoad);
    EXPECT_TRUE(
        linesOf(window->transcript()).constLast().endsWith(QStringLiteral("EchoBot: x<y and <3")));
    EXPECT_TRUE(window->transcript()->atEnd());

    press(window, Qt::Key_F, Qt::ControlModifier);
    auto* find = window->findChild<QLineEdit*>(QStringLiteral("find"));
    ASSERT_TRUE(find->isVisible());
    QTest::keyClicks(find, QStringLiteral("first of"));
    QTest::keyClick(find, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->transcript()->selectedRow() == 0; }, kWaitMs))
        << window->findStatus().toStdString();
    EXPECT_TRUE(
        linesOf(window->transcript()).constFirst().endsWith(QStringLiteral("first of all")));
    window->find(QStringLiteral("first of"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->findStatus() == QLatin1String("Not found"); },
                                kWaitMs));

    HistoryWindow* history = alice->app->openHistory();
    history->search(QStringLiteral("<3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return history->hits()->topLevelItemCount() == 2; }, kWaitMs))
        << history->status().toStdString();
    EXPECT_EQ(history->hits()->topLevelItem(0)->text(3), QStringLiteral("x<y and <3"));
    EXPECT_EQ(history->hits()->topLevelItem(0)->text(2), QStringLiteral("EchoBot"));

    alice->app->setLogging(false);
    QTest::keyClicks(window->findChild<QLineEdit*>(QStringLiteral("input")),
                     QStringLiteral("unkept"));
    QTest::keyClick(window->findChild<QLineEdit*>(QStringLiteral("input")), Qt::Key_Return);
    ASSERT_TRUE(shows(window->transcript(), QStringLiteral("EchoBot: unkept")));
    history->search(QStringLiteral("unkept"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return history->status() == QLatin1String("Nothing found."); }, kWaitMs));
}

// Warnings, the password and the name's format against tocd: a refused warning says so and
// claims no level; a warning taken reaches the person warned; a wrong old password is said to
// be wrong; the new password signs on; a name that is another name is refused before it goes.
TEST_F(MessengerWindows, WarnChangePasswordAndFormatTheName) {
    auto alice = session(QStringLiteral("alice"));
    ASSERT_TRUE(alice->signOnAs(tocd_.port(), QStringLiteral("alice")));
    BuddyListWindow* aliceStatus = alice->app->buddyListWindow();
    const auto said = [](BuddyListWindow* list, const QString& text) {
        return QTest::qWaitFor([&] { return list->note().contains(text); }, kWaitMs);
    };
    alice->app->warn(QStringLiteral("echobot"), false);
    EXPECT_TRUE(said(aliceStatus, QStringLiteral("Not warned: the server refused to warn echobot")))
        << aliceStatus->note().toStdString();
    EXPECT_FALSE(aliceStatus->note().contains(u'%'));

    auto bob = session(QStringLiteral("bob"));
    ASSERT_TRUE(bob->signOnAs(tocd_.port(), QStringLiteral("bob")));
    bob->app->connection().sendIm(QStringLiteral("alice"), QStringLiteral("spam"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alice->conversation(ConversationStore::imKey(QStringLiteral("bob"))); },
        kWaitMs));
    alice->app->warn(QStringLiteral("bob"), true);
    EXPECT_TRUE(said(bob->app->buddyListWindow(), QStringLiteral("You were warned anonymously")));

    alice->app->changePassword(QStringLiteral("wrong1"), QStringLiteral("new-pw1"));
    EXPECT_TRUE(said(aliceStatus, QStringLiteral("the old password was wrong")))
        << aliceStatus->note().toStdString();
    alice->app->changePassword(QStringLiteral("pw1"), QStringLiteral("new-pw1"));
    EXPECT_TRUE(said(aliceStatus, QStringLiteral("Password changed.")));

    // The lists as edited in Settings go to the server, only what changed.
    SettingsDialog dialog(SettingsDialog::AllowEveryone, {QStringLiteral("erin")}, {}, true);
    auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("permitListName"));
    QTest::keyClicks(typed, QStringLiteral("Carol"));
    QTest::keyClick(typed, Qt::Key_Return);
    QTest::keyClicks(typed, QStringLiteral("carol"));
    dialog.findChild<QPushButton*>(QStringLiteral("permitListAdd"))->click();
    auto* permits = dialog.findChild<QListWidget*>(QStringLiteral("permitList"));
    permits->setCurrentRow(0);
    dialog.findChild<QPushButton*>(QStringLiteral("permitListRemove"))->click();
    EXPECT_EQ(dialog.permitted(), QStringList{QStringLiteral("Carol")});
    alice->app->permit(QStringLiteral("Carol"));
    alice->app->block(QStringLiteral("dave"));
    alice->app->unpermit(QStringLiteral("carol"));
    alice->app->permit(QStringLiteral("frank"));
    // The answer to the name, below, comes after the lists are stored.
    alice->app->formatScreenName(QStringLiteral("Mallory"));
    EXPECT_TRUE(said(aliceStatus, QStringLiteral("Mallory is another name")));
    alice->app->formatScreenName(QStringLiteral("A Lice"));
    EXPECT_TRUE(said(aliceStatus, QStringLiteral("now shows as A Lice")))
        << aliceStatus->note().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return aliceStatus->connectionStatus() == QLatin1String("Signed on as A Lice"); },
        kWaitMs))
        << aliceStatus->connectionStatus().toStdString();

    alice.reset();
    auto again = session(QStringLiteral("again"));
    ASSERT_TRUE(again->signOnAs(tocd_.port(), QStringLiteral("alice"), QStringLiteral("new-pw1")));
    EXPECT_EQ(again->app->permitList(), QStringList{QStringLiteral("frank")});
    EXPECT_EQ(again->app->blockList(), QStringList{QStringLiteral("dave")});
}

TEST_F(MessengerWindows, RefusedAndUnreachableSignOnsSayWhy) {
    auto first = session(QStringLiteral("first"));
    ASSERT_TRUE(first->signOnAs(tocd_.port(), QStringLiteral("carol"), QStringLiteral("right1")));
    first.reset();

    auto s = session(QStringLiteral("second"));
    s->typeSignOn(tocd_.port(), QStringLiteral("carol"), QStringLiteral("wrong1"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return s->field<QLineEdit>("password")->isEnabled(); }, kWaitMs));
    EXPECT_EQ(s->app->connection().state(), State::SignedOff);
    EXPECT_TRUE(s->signOn()->status().contains(QLatin1String("password"), Qt::CaseInsensitive))
        << s->signOn()->status().toStdString();
    EXPECT_TRUE(s->signOn()->isVisible());

    s->field<QLineEdit>("server")->setText(QStringLiteral("127.0.0.1:99999"));
    QTest::keyClick(s->field<QLineEdit>("password"), Qt::Key_Return);
    EXPECT_TRUE(s->signOn()->status().contains(QLatin1String("65535")));

    const int port = tocd_.port();
    tocd_.stop();
    s->typeSignOn(port, QStringLiteral("carol"), QStringLiteral("right1"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s->signOn()->status().startsWith(QLatin1String("Cannot reach")); }, kWaitMs))
        << s->signOn()->status().toStdString();
    EXPECT_EQ(s->app->connection().state(), State::SignedOff);
}

TEST_F(MessengerWindows, ReconnectsByItselfWhenTheServerComesBack) {
    const QString db = dir_.filePath(QStringLiteral("accounts.db"));
    ASSERT_TRUE(tocd_.start({QStringLiteral("--db"), db}));
    const int port = tocd_.port();
    auto s = session(QStringLiteral("dave"));
    ASSERT_TRUE(s->signOnAs(port, QStringLiteral("dave")));
    ASSERT_TRUE(s->sees("echobot", true));
    BuddyListWindow* list = s->app->buddyListWindow();
    // A room joined and a conversation open: the room, and only it, is entered again.
    const QString roomKey = ConversationStore::roomKey(QStringLiteral("Den"));
    answerQuestions({QStringLiteral("Den")});
    press(list, Qt::Key_J, Qt::ControlModifier);
    s->app->openIm(QStringLiteral("echobot"));
    const auto inDen = [&] {
        const Conversation* den = s->app->conversations().find(roomKey);
        return den && den->joined;
    };
    ASSERT_TRUE(QTest::qWaitFor(inDen, kWaitMs));

    // The waits are parts of the pauses, drawn from this cycle.
    const std::vector<double> draws{0.9, 0.5, 0.25, 0.75};
    std::size_t drawn = 0;
    s->app->connection().setRandomSource([&] { return draws[drawn++ % draws.size()]; });
    std::vector<int> pauses;
    std::vector<int> waits;
    QObject::connect(&s->app->connection(), &ConnectionManager::stateChanged, [&](State state) {
        if (state == State::Waiting) {
            pauses.push_back(s->app->connection().pauseSeconds());
            waits.push_back(s->app->connection().waitMilliseconds());
        }
    });
    tocd_.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pauses.empty(); }, kWaitMs));
    EXPECT_TRUE(list->connectionStatus().startsWith(QLatin1String("Connection lost")))
        << list->connectionStatus().toStdString();
    EXPECT_FALSE(s->app->buddies().presence(QStringLiteral("echobot")).online);
    // Attempts fail while the server is away, each pause twice the one before; "reconnect
    // now" tries at once and starts the pauses over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauses.size() == 3; }, kWaitMs));
    s->app->connection().reconnectNow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pauses.size() == 4; }, kWaitMs));
    EXPECT_EQ(pauses, (std::vector<int>{1, 2, 4, 1}));
    EXPECT_EQ(waits, (std::vector<int>{900, 1000, 1000, 750}));

    ASSERT_TRUE(tocd_.start({QStringLiteral("--db"), db, QStringLiteral("--listen"),
                             QStringLiteral("127.0.0.1:%1").arg(port)}))
        << tocd_.errorText().toStdString();
    ASSERT_EQ(tocd_.port(), port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->app->connection().state() == State::SignedOn; },
                                2 * kWaitMs));
    EXPECT_TRUE(s->sees("echobot", true));
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(QTest::qWaitFor(inDen, kWaitMs));
    EXPECT_EQ(s->app->conversations().find(ConversationStore::roomKey(QStringLiteral("echobot"))),
              nullptr);
    // A message that fits goes out without a word of trouble.
    int problems = 0;
    QObject::connect(&s->app->connection(), &ConnectionManager::problem, [&] { ++problems; });
    EXPECT_EQ(s->app->connection().sendIm(QStringLiteral("echobot"), QStringLiteral("hi")), 1);
    EXPECT_EQ(problems, 0);

    // A sign-on that succeeded starts the pauses over: the next loss waits within a second.
    pauses.clear();
    tocd_.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pauses.empty(); }, kWaitMs));
    EXPECT_EQ(pauses.front(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);
    return lantry::testing::runWidgetTests(argc, argv);
}
