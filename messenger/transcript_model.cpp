#include "transcript_model.h"

#include <QTextDocumentFragment>

#include "ondrel/text.h"

namespace messenger {

TranscriptModel::TranscriptModel(QObject* parent) : QAbstractListModel(parent) {
}

int TranscriptModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant TranscriptModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_.size())
        return {};
    const ChatLine& l = lines_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
            return QTextDocumentFragment::fromHtml(lineHtml(l)).toPlainText();
        case HtmlRole:
            return lineHtml(l);
        case KindRole:
            return int(l.kind);
        case IdRole:
            return l.id;
        default:
            return {};
    }
}

void TranscriptModel::append(ChatLine line) {
    if (lines_.size() >= kMaxLines + kTrimChunk) {
        beginRemoveRows({}, 0, kTrimChunk - 1);
        lines_.remove(0, kTrimChunk);
        endRemoveRows();
        oldestId_ = 0;
        for (const ChatLine& l : std::as_const(lines_)) {
            if (l.id > 0) {
                oldestId_ = l.id;
                break;
            }
        }
        mayHaveOlder_ = true;
    }
    if (oldestId_ == 0 && line.id > 0)
        oldestId_ = line.id;
    const int row = int(lines_.size());
    beginInsertRows({}, row, row);
    lines_.append(std::move(line));
    endInsertRows();
}

void TranscriptModel::prependOlder(QList<ChatLine> older, bool exhausted) {
    mayHaveOlder_ = !exhausted;
    if (older.isEmpty())
        return;
    oldestId_ = older.front().id;
    beginInsertRows({}, 0, int(older.size()) - 1);
    lines_ = older + lines_;
    endInsertRows();
}

void TranscriptModel::clear() {
    beginResetModel();
    lines_.clear();
    oldestId_ = 0;
    mayHaveOlder_ = false;
    endResetModel();
}

QString TranscriptModel::lineHtml(const ChatLine& line) {
    QString colour;
    switch (line.kind) {
        case ChatLine::Kind::Incoming:
            colour = QStringLiteral("#b0281a");
            break;
        case ChatLine::Kind::Outgoing:
            colour = QStringLiteral("#1a4fb0");
            break;
        case ChatLine::Kind::AutoReply:
            colour = QStringLiteral("#7a4fb0");
            break;
        case ChatLine::Kind::Notice:
            colour = QStringLiteral("#707070");
            break;
    }
    const QString stamp = QStringLiteral("[%1] ").arg(line.time.toString(
        line.time.date() == QDate::currentDate() ? QStringLiteral("hh:mm:ss")
                                                 : QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (line.kind == ChatLine::Kind::Notice) {
        return QStringLiteral("<span style=\"color:%1\">%2<i>%3</i></span>")
            .arg(colour, stamp, line.html);
    }
    const QString marker = line.kind == ChatLine::Kind::AutoReply ? tr(" (auto reply)") : "";
    return QStringLiteral("<span style=\"color:%1\">%2<b>%3</b>%4:</span> %5")
        .arg(colour, stamp, lantry::visibleText(line.sender).toHtmlEscaped(), marker, line.html);
}

}  // namespace messenger
