// The messenger's renderer of received markup on texts an attacker shapes, each at sizes that
// double, beside ordinary markup of the same sizes as the baseline. Linear means the time per
// character stays flat as the size doubles (Complexity reports the fit).
#include <benchmark/benchmark.h>

#include <QString>

#include "safe_markup.h"

namespace {

using messenger::OtherMarkup;

enum class Shape {
    Ordinary,      // baseline: formatting, a link, references, plain words
    OpenBrackets,  // "<" and nothing else: no ">" anywhere, so no tag ever closes
    UnknownTags,   // "<x y" again and again, one ">" at the end: every "<" starts a tag shown as
                   // text
    RefusedLinks,  // "<a href=javascript:x" again and again, one ">" at the end
    DeepNesting,   // far more open elements than are kept, then as many closing tags
};

QString textOf(Shape shape, qsizetype size) {
    const char* unit = "";
    switch (shape) {
        case Shape::Ordinary:
            unit = "<b>tea</b> &amp; <a href=\"http://example.com/\">cake</a> at five. ";
            break;
        case Shape::OpenBrackets:
            unit = "<";
            break;
        case Shape::UnknownTags:
            unit = "<x y ";
            break;
        case Shape::RefusedLinks:
            unit = "<a href=javascript:x ";
            break;
        case Shape::DeepNesting:
            unit = "<b><i><u>";
            break;
    }
    QString text;
    text.reserve(size + 64);
    while (text.size() < size)
        text += QLatin1String(unit);
    if (shape == Shape::DeepNesting)
        text += QStringLiteral("</u></i></b>").repeated(text.size() / 9);
    if (shape != Shape::OpenBrackets)
        text += u'>';
    return text;
}

template <Shape shape, OtherMarkup other>
void Render(benchmark::State& state) {
    const QString text = textOf(shape, state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(messenger::renderMarkup(text, other));
    state.SetComplexityN(text.size());
    state.SetItemsProcessed(state.iterations() * text.size());
}

void sizes(benchmark::internal::Benchmark* b) {
    b->RangeMultiplier(2)->Range(32 << 10, 256 << 10)->Complexity(benchmark::oN);
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(Render<Shape::Ordinary, OtherMarkup::ShowAsText>)->Apply(sizes);
BENCHMARK(Render<Shape::OpenBrackets, OtherMarkup::ShowAsText>)->Apply(sizes);
BENCHMARK(Render<Shape::UnknownTags, OtherMarkup::ShowAsText>)->Apply(sizes);
BENCHMARK(Render<Shape::RefusedLinks, OtherMarkup::ShowAsText>)->Apply(sizes);
BENCHMARK(Render<Shape::DeepNesting, OtherMarkup::ShowAsText>)->Apply(sizes);
BENCHMARK(Render<Shape::Ordinary, OtherMarkup::Drop>)->Apply(sizes);
BENCHMARK(Render<Shape::OpenBrackets, OtherMarkup::Drop>)->Apply(sizes);
BENCHMARK(Render<Shape::UnknownTags, OtherMarkup::Drop>)->Apply(sizes);

}  // namespace
