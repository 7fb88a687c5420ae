// The messenger's transcript: appending lines to a conversation shown in its window (store,
// history written on its thread, view painted), at transcript lengths that grow a
// hundredfold and more. Flat means the cost per line at 100,000 lines is that at 100 lines,
// the baseline of the same run. Burst: 1,000 lines arriving in one read, then the event loop's
// turn that shows them: the longest the interface stalls. For comparison, the former transcript
// (one QTextDocument, capped and trimmed a block per insert) at the lengths where it still
// finishes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextCursor>

#include <map>
#include <memory>

#include "conversation_store.h"
#include "history_store.h"
#include "safe_markup.h"
#include "transcript_view.h"

namespace {

using messenger::ChatLine;

constexpr int kWidth = 460;
constexpr int kHeight = 360;

QString textOf(int n) {
    return QStringLiteral(
               "line %1: <b>tea</b> at five, and a link to "
               "<a href=\"http://example.com/%1\">the menu</a>, as usual.")
        .arg(n);
}

ChatLine lineOf(int n) {
    const QString text = textOf(n);
    return ChatLine{ChatLine::Kind::Incoming,
                    QDateTime::currentDateTime(),
                    QStringLiteral("peer"),
                    messenger::renderMarkup(text),
                    text,
                    0};
}

// One conversation with its history and its window, filled to a length once and kept for
// every benchmark and repetition at that length.
struct Shown {
    explicit Shown(int length) {
        history.open(dir.path(), QStringLiteral("bench"));
        store.setHistory(&history);
        key = store.im(QStringLiteral("peer")).key;
        view.setModel(store.find(key)->transcript.get());
        view.resize(kWidth, kHeight);
        view.show();
        for (int i = 0; i < length; ++i) {
            add();
            if (i % 1000 == 0)
                QCoreApplication::processEvents();
        }
        // Measured once the history has written the backlog, as a conversation runs.
        bool written = false;
        const auto done =
            QObject::connect(&history, &messenger::HistoryStore::found, [&] { written = true; });
        history.search(QStringLiteral("no such line"), key);
        while (!written)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QObject::disconnect(done);
        QCoreApplication::processEvents();
    }
    void add() { store.addLine(key, lineOf(next++)); }

    QTemporaryDir dir;
    messenger::HistoryStore history;
    messenger::ConversationStore store;
    messenger::TranscriptView view;
    QString key;
    int next = 0;
};

// Emptied before the application goes: the windows must not outlive it.
std::map<int, std::unique_ptr<Shown>> shownByLength;

Shown& shown(int length) {
    auto& s = shownByLength[length];
    if (!s)
        s = std::make_unique<Shown>(length);
    return *s;
}

void AppendLine(benchmark::State& state) {
    Shown& s = shown(int(state.range(0)));
    for (auto _ : state) {
        s.add();
        QCoreApplication::processEvents();
    }
    state.counters["at_end"] = s.view.atEnd();
}

void Burst1000(benchmark::State& state) {
    Shown& s = shown(int(state.range(0)));
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            s.add();
        QCoreApplication::processEvents();
    }
    state.counters["at_end"] = s.view.atEnd();
}

// The former transcript: one document for the whole conversation, at most 2,000 blocks, each
// line inserted as HTML at the end.
void FormerDocument(benchmark::State& state) {
    QTextBrowser view;
    view.document()->setMaximumBlockCount(2000);
    view.resize(kWidth, kHeight);
    view.show();
    int n = 0;
    const auto add = [&] {
        QTextCursor cursor(view.document());
        cursor.movePosition(QTextCursor::End);
        if (!view.document()->isEmpty())
            cursor.insertBlock();
        cursor.insertHtml(QStringLiteral("[12:00:00] <b>peer</b>: ") +
                          messenger::renderMarkup(textOf(n++)));
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    };
    for (int i = 0; i < state.range(0); ++i)
        add();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        add();
        QCoreApplication::processEvents();
    }
}

void lengths(benchmark::internal::Benchmark* b, int iterations) {
    for (int length : {100, 1000, 10000, 100000})
        b->Arg(length);
    b->Iterations(iterations)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(AppendLine)->Apply([](auto* b) { lengths(b, 300); });
BENCHMARK(Burst1000)->Apply([](auto* b) { lengths(b, 3); }) -> Unit(benchmark::kMillisecond);
BENCHMARK(FormerDocument)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    shownByLength.clear();
    return 0;
}
