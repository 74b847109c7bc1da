// Reply decoding throughput: the linear decoders against the literal
// reference decoders (replace the first occurrence, search again from the
// start) on a realistic 30-topic reply and on 1 MiB of entity-dense text, and
// the bounded inflation against zlib's one-shot uncompress.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>

#include "core/ReplyDecoding.h"
#include "tests/unit/core_reference_decoders.h"

namespace {

using namespace zelt;

// Russian titles arrive as numeric references, with a few named ones.
std::string Cyrillic(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 128)
      out += static_cast<char>(c);
    else
      out += "&#" + std::to_string(static_cast<int>(c)) + ";";
  }
  return out;
}

std::string ThirtyTopicReply() {
  const std::u16string titles[] = {u"Продам велосипед", u"Где купить шины?", u"Новости района",
                                   u"Встреча выпускников 2026", u"Ищу попутчиков до Москвы"};
  std::string text = "0";
  for (int i = 0; i < 30; ++i) {
    text += Cyrillic(titles[i % 5]) + " &quot;" + std::to_string(i) + "&quot; &laquo;" + Cyrillic(u"важно") +
            "&raquo;\x11";
    text += "topic-" + std::to_string(1000 + i) + "\x11";
    text += std::to_string(i % 7 + 1) + "\x11";
    text += std::to_string(i * 13 % 400) + "\x11";
    text += Cyrillic(u"Пользователь") + std::to_string(i) + "\x11";
  }
  return text;
}

std::string EntityDense(size_t size) {
  const std::string piece = "&quot;a&amp;lt;&#1055;&#1088;b&nbsp;&#233;&hellip;&amp;amp;c&#17;&sup1;&#38;#65;";
  std::string s;
  while (s.size() < size) s += piece;
  s.resize(size);
  return s;
}

void Fast(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    std::string t = input;
    DecodeNamedEntities(t);
    t = DecodeNumericRefs(t);
    benchmark::DoNotOptimize(t.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void Reference(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    std::string t = input;
    reference::DecodeNamedEntities(t);
    t = reference::DecodeNumericRefs(t);
    benchmark::DoNotOptimize(t.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Reply30_Linear(benchmark::State& s) { Fast(s, ThirtyTopicReply()); }
void BM_Reply30_Reference(benchmark::State& s) { Reference(s, ThirtyTopicReply()); }
void BM_Dense1MiB_Linear(benchmark::State& s) { Fast(s, EntityDense(1 << 20)); }
void BM_Dense1MiB_Reference(benchmark::State& s) { Reference(s, EntityDense(1 << 20)); }
BENCHMARK(BM_Reply30_Linear);
BENCHMARK(BM_Reply30_Reference);
BENCHMARK(BM_Dense1MiB_Linear)->Unit(benchmark::kMillisecond);
// Quadratic: one pass takes long enough to be measured once.
BENCHMARK(BM_Dense1MiB_Reference)->Unit(benchmark::kMillisecond)->Iterations(1);

std::string Compressed(const std::string& text) {
  uLongf n = compressBound(static_cast<uLong>(text.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), Z_DEFAULT_COMPRESSION);
  z.resize(n);
  return z;
}

std::string BigText() {
  std::string t;
  while (t.size() < (4u << 20)) t += ThirtyTopicReply();
  return t;
}

// The body as the server sends it (no header), through the bounded inflation.
void Inflate(benchmark::State& state, const std::string& text) {
  const std::string body = Compressed(text).substr(2);
  for (auto _ : state) {
    // Beyond the program's cap, so that the whole text is inflated as zlib's is.
    std::string t = InflateReply(body, text.size());
    benchmark::DoNotOptimize(t.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// zlib at its best: the whole stream into a buffer of the known size.
void RawZlib(benchmark::State& state, const std::string& text) {
  const std::string z = Compressed(text);
  std::string out(text.size(), '\0');
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    uncompress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(z.data()),
               static_cast<uLong>(z.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Inflate30_Bounded(benchmark::State& s) { Inflate(s, ThirtyTopicReply()); }
void BM_Inflate30_RawZlib(benchmark::State& s) { RawZlib(s, ThirtyTopicReply()); }
void BM_Inflate4MiB_Bounded(benchmark::State& s) { Inflate(s, BigText()); }
void BM_Inflate4MiB_RawZlib(benchmark::State& s) { RawZlib(s, BigText()); }
BENCHMARK(BM_Inflate30_Bounded);
BENCHMARK(BM_Inflate30_RawZlib);
BENCHMARK(BM_Inflate4MiB_Bounded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate4MiB_RawZlib)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
