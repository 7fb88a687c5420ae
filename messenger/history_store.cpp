#include "history_store.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <functional>

#include "safe_markup.h"

namespace messenger {

namespace {

struct PendingLine {
    QString key;
    QString title;
    ChatLine line;
};

ChatLine lineFrom(const QSqlQuery& q) {
    ChatLine l;
    l.id = q.value(0).toLongLong();
    l.time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong());
    l.kind = ChatLine::Kind(q.value(2).toInt());
    l.sender = q.value(3).toString();
    l.text = q.value(4).toString();
    // Messages are rendered again from the text as received; notices are our own HTML.
    l.html = l.kind == ChatLine::Kind::Notice ? q.value(5).toString() : renderMarkup(l.text);
    return l;
}

QString likePattern(QString text) {
    text.replace(u'\\', QLatin1String("\\\\"))
        .replace(u'%', QLatin1String("\\%"))
        .replace(u'_', QLatin1String("\\_"));
    return u'%' + text + u'%';
}

}  // namespace

// Lives on the history's thread; owns the connection there.
class HistoryWorker : public QObject {
public:
    ~HistoryWorker() override { close(); }

    // Returns the next free row id, or 0 when the file cannot be used (`error` says why).
    qint64 open(const QString& path, QString* error) {
        close();
        name_ = QStringLiteral("history-%1").arg(quintptr(this));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        const bool ok =
            db.open() && q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) &&
            q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS lines (id INTEGER PRIMARY KEY, "
                                  "conversation TEXT NOT NULL, title TEXT, time INTEGER, kind "
                                  "INTEGER, sender TEXT, text TEXT, html TEXT)")) &&
            q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS lines_by_conversation ON "
                                  "lines (conversation, id)")) &&
            q.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM lines")) && q.next();
        if (!ok) {
            *error = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
            q = QSqlQuery();
            db = QSqlDatabase();
            close();
            return 0;
        }
        reported_ = false;
        return q.value(0).toLongLong() + 1;
    }

    void append(PendingLine line, const std::function<void(QString)>& report) {
        pending_.append(std::move(line));
        if (pending_.size() == 1)
            QTimer::singleShot(0, this, [this, report] { flush(report); });
    }

    void flush(const std::function<void(QString)>& report) {
        if (pending_.isEmpty() || name_.isEmpty())
            return;
        QSqlDatabase db = QSqlDatabase::database(name_);
        QSqlQuery q(db);
        bool ok = db.transaction() &&
                  q.prepare(QStringLiteral("INSERT INTO lines (id, conversation, title, time, "
                                           "kind, sender, text, html) VALUES (?,?,?,?,?,?,?,?)"));
        for (const PendingLine& p : std::as_const(pending_)) {
            if (!ok)
                break;
            const ChatLine& l = p.line;
            int i = 0;
            for (const QVariant& v :
                 {QVariant(l.id), QVariant(p.key), QVariant(p.title),
                  QVariant(l.time.toMSecsSinceEpoch()), QVariant(int(l.kind)), QVariant(l.sender),
                  QVariant(l.text),
                  l.kind == ChatLine::Kind::Notice ? QVariant(l.html) : QVariant()})
                q.bindValue(i++, v);
            ok = q.exec();
        }
        pending_.clear();
        ok = ok && db.commit();
        if (ok) {
            reported_ = false;
            return;
        }
        const QString why = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
        db.rollback();
        if (!std::exchange(reported_, true))
            report(why);
    }

    QList<ChatLine> older(const QString& key, qint64 beforeId, int count,
                          const std::function<void(QString)>& report) {
        flush(report);
        QSqlQuery q(QSqlDatabase::database(name_));
        q.prepare(
            QStringLiteral("SELECT id, time, kind, sender, text, html FROM lines WHERE "
                           "conversation = ? AND id < ? ORDER BY id DESC LIMIT ?"));
        q.addBindValue(key);
        q.addBindValue(beforeId);
        q.addBindValue(count);
        QList<ChatLine> out;
        if (q.exec()) {
            while (q.next())
                out.prepend(lineFrom(q));
        }
        return out;
    }

    QList<HistoryHit> search(const QString& text, const QString& key,
                             const std::function<void(QString)>& report) {
        flush(report);
        QSqlQuery q(QSqlDatabase::database(name_));
        q.prepare(QStringLiteral(
                      "SELECT id, time, kind, sender, text, html, conversation, title FROM lines "
                      "WHERE (? OR conversation = ?) AND ((CASE WHEN kind = %1 THEN html "
                      "ELSE text END) LIKE ? ESCAPE '\\' OR (CASE WHEN kind = %1 THEN html "
                      "ELSE text END) LIKE ? ESCAPE '\\') ORDER BY id DESC LIMIT %2")
                      .arg(int(ChatLine::Kind::Notice))
                      .arg(HistoryStore::kMaxHits));
        q.addBindValue(key.isEmpty());
        q.addBindValue(key);
        q.addBindValue(likePattern(text));
        // Typed text is kept as the markup sent, "<" as "&lt;".
        q.addBindValue(likePattern(text.toHtmlEscaped()));
        QList<HistoryHit> out;
        if (q.exec()) {
            while (q.next())
                out.append(HistoryHit{q.value(6).toString(), q.value(7).toString(), lineFrom(q)});
        }
        return out;
    }

    void clear(const std::function<void(QString)>& report) {
        pending_.clear();
        QSqlQuery q(QSqlDatabase::database(name_));
        if (!q.exec(QStringLiteral("DELETE FROM lines")))
            report(q.lastError().text());
        else
            q.exec(QStringLiteral("VACUUM"));
    }

private:
    void close() {
        if (name_.isEmpty())
            return;
        flush([](const QString&) {});
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(std::exchange(name_, {}));
    }

    QString name_;
    QList<PendingLine> pending_;
    bool reported_ = false;
};

HistoryStore::HistoryStore(QObject* parent) : QObject(parent), worker_(new HistoryWorker) {
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("history"));
    thread_.start();
}

HistoryStore::~HistoryStore() {
    // After every query asked before: the lines still queued are written as it closes.
    QMetaObject::invokeMethod(
        worker_, [this] { delete worker_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void HistoryStore::report(const QString& why) {
    emit problem(tr("The history cannot be written: %1").arg(why));
}

bool HistoryStore::open(const QString& folder, const QString& account) {
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(account + QStringLiteral(".sqlite"));
    QString error;
    qint64 next = 0;
    QMetaObject::invokeMethod(
        worker_, [&] { next = worker_->open(path, &error); }, Qt::BlockingQueuedConnection);
    open_ = next > 0;
    nextId_ = std::max<qint64>(next, 1);
    if (!open_)
        emit problem(tr("The history cannot be kept in %1: %2").arg(path, error));
    return open_;
}

qint64 HistoryStore::append(const QString& key, const QString& title, const ChatLine& line) {
    if (!open_ || !logging_)
        return 0;
    PendingLine p{key, title, line};
    p.line.id = nextId_++;
    const qint64 id = p.line.id;
    QMetaObject::invokeMethod(worker_, [this, p = std::move(p)]() mutable {
        worker_->append(std::move(p), [this](const QString& why) {
            QMetaObject::invokeMethod(this, [this, why] { report(why); });
        });
    });
    return id;
}

void HistoryStore::requestOlder(const QString& key, qint64 beforeId, int count) {
    if (!open_) {
        emit olderLoaded(key, {}, true);
        return;
    }
    const qint64 before = beforeId > 0 ? beforeId : nextId_;
    QMetaObject::invokeMethod(worker_, [this, key, before, count] {
        QList<ChatLine> lines = worker_->older(key, before, count, [](const QString&) {});
        const bool exhausted = lines.size() < count;
        QMetaObject::invokeMethod(this, [this, key, lines = std::move(lines), exhausted] {
            emit olderLoaded(key, lines, exhausted);
        });
    });
}

int HistoryStore::search(const QString& text, const QString& key) {
    const int request = ++lastRequest_;
    if (!open_) {
        QMetaObject::invokeMethod(
            this, [this, request] { emit found(request, {}); }, Qt::QueuedConnection);
        return request;
    }
    QMetaObject::invokeMethod(worker_, [this, text, key, request] {
        QList<HistoryHit> hits = worker_->search(text, key, [](const QString&) {});
        QMetaObject::invokeMethod(
            this, [this, request, hits = std::move(hits)] { emit found(request, hits); });
    });
    return request;
}

void HistoryStore::clear() {
    if (!open_)
        return;
    QMetaObject::invokeMethod(worker_, [this] {
        worker_->clear([this](const QString& why) {
            QMetaObject::invokeMethod(this, [this, why] { report(why); });
        });
    });
}

}  // namespace messenger
