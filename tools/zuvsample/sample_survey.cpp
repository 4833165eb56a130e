#include "sample_survey.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>

#include "surveylib/additional_tables.hpp"
#include "surveylib/interview_fields.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx::sample {
namespace {

// splitmix64: tiny, and the same numbers on every platform and library,
// unlike the standard distributions.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int64_t Below(int64_t n) { return n <= 0 ? 0 : static_cast<int64_t>(Next() % uint64_t(n)); }
  double Unit() { return double(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double share) { return Unit() < share; }

 private:
  uint64_t m_state;
};

uint64_t Mix(uint64_t a, uint64_t b) { return CRandom(a * 0x2545F4914F6CDD1Dull ^ b).Next(); }

constexpr const char* kWords[] = {
    "bon",   "prix", "service", "rapide", "qualité",   "l'accueil", "trop",    "cher",
    "livré", "à",    "temps",   "très",   "satisfait", "déçu",      "produit", "\"super\""};

constexpr int kQuestionsPerLoop = 2;
constexpr int kQuestionsPerNestedLoop = 4;  // two in the outer loop, two in the inner one

}  // namespace

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
static int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::optional<int64_t> ParseIsoDate(const std::string& text) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3)
    return std::nullopt;
  if (y < 1753 || m < 1 || m > 12 || d < 1) return std::nullopt;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap)) return std::nullopt;
  return DaysFromCivil(y, m, d) * 86400;
}

std::string FormatSeconds(int64_t seconds) {
  int64_t z = seconds / 86400 + 719468;
  const int64_t secs = seconds % 86400;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", y, m, d, secs / 3600, secs / 60 % 60,
                     secs % 60);
}

CSampleSurvey::CSampleSurvey(const CSampleOptions& options) : m_options(options) {
  m_startSeconds = ParseIsoDate(options.startDate).value_or(0);
  BuildQuestionnaire();
  BuildTables();
}

void CSampleSurvey::BuildQuestionnaire() {
  CRandom rng(Mix(m_options.seed, 1));
  const int loopCount = m_options.loops + m_options.nestedLoops;
  const int topCount = m_options.questions - kQuestionsPerLoop * m_options.loops -
                       kQuestionsPerNestedLoop * m_options.nestedLoops;
  const int overAnswerLoops = (m_options.loops + 1) / 2;
  if (topCount < std::max(m_options.tables, overAnswerLoops))
    throw std::invalid_argument(
        fmt::format("--questions {} is too small for {} loops, {} nested loops and {} tables "
                    "(needs at least {})",
                    m_options.questions, m_options.loops, m_options.nestedLoops, m_options.tables,
                    m_options.questions - topCount + std::max(m_options.tables, overAnswerLoops)));

  int32_t code = m_options.sparseIds ? 10000 : 0;
  auto nextCode = [&] { return code += m_options.sparseIds ? 1 + int32_t(rng.Below(500)) : 1; };
  int nextLoopTable = m_options.tables + 1;

  auto add = [&](CElement e) {
    e.code = nextCode();
    e.position = int32_t(m_elements.size()) + 1;
    m_elements.push_back(std::move(e));
    return int(m_elements.size()) - 1;
  };
  auto textBlock = [&](int16_t indent, std::string libelle) {
    CElement e;
    e.indent = indent;
    e.typeElement = element_types::kTextBlock;
    e.typeQuestion = 0;
    e.libelle = std::move(libelle);
    add(std::move(e));
  };
  auto question = [&](int16_t indent, int depth, int table, int16_t type) {
    CElement e;
    e.indent = indent;
    e.loopDepth = depth;
    e.typeQuestion = type;
    e.tableNumber = int16_t(table);
    e.dataFlag = 1;
    if (type == question_types::kSingleChoice) e.choiceCount = 2 + int(rng.Below(8));
    if (type == question_types::kMultipleChoice)
      e.choiceCount = e.nbMaxReponse = 4 + int32_t(rng.Below(5));
    static constexpr const char* kKinds[] = {"", "single choice", "multiple choice", "numeric",
                                             "open"};
    e.libelle = fmt::format("Question {} ({})", m_elements.size() + 1, kKinds[type]);
    return add(std::move(e));
  };
  auto pickType = [&] {
    const double r = rng.Unit();
    if (r < m_options.multipleShare) return question_types::kMultipleChoice;
    if (r < m_options.multipleShare + m_options.numericShare) return question_types::kNumeric;
    if (r < m_options.multipleShare + m_options.numericShare + m_options.openShare)
      return question_types::kOpen;
    return question_types::kSingleChoice;
  };
  auto loop = [&](int16_t indent, int depth, int table, int16_t type, int base) {
    CElement e;
    e.indent = indent;
    e.loopDepth = depth;
    e.typeElement = element_types::kLoop;
    e.typeQuestion = type;
    e.tableNumber = int16_t(table);
    e.dataFlag = 1;
    if (type == question_types::kLoopOverAnswers) {
      e.nbMaxReponse = e.choiceCount = m_elements[base].nbMaxReponse;
      e.libelle = fmt::format("Loop over the answers of question {}", m_elements[base].code);
    } else {
      e.nbMaxReponse = 3 + int32_t(rng.Below(3));
      e.libelle = fmt::format("Loop of up to {} iterations", e.nbMaxReponse);
    }
    return add(std::move(e));
  };

  textBlock(1, "Introduction");
  int loopsPlaced = 0;
  for (int j = 0; j < topCount; ++j) {
    if (j > 0 && j % 10 == 0) textBlock(1, fmt::format("Section {}", j / 10 + 1));
    const int table = 1 + j * m_options.tables / topCount;
    // Loops sit evenly between the top-level questions; a loop over answers
    // needs a multiple-choice question right before it.
    const bool loopFollows =
        loopsPlaced < loopCount && j + 1 == (loopsPlaced + 1) * topCount / (loopCount + 1) + 1;
    const bool overAnswers = loopFollows && loopsPlaced < m_options.loops && loopsPlaced % 2 == 0;
    const int q = question(1, 0, table, overAnswers ? question_types::kMultipleChoice : pickType());
    m_topQuestions.push_back(q);
    if (!loopFollows) continue;
    if (loopsPlaced < m_options.loops) {
      const int lp =
          loop(1, 0, 1,
               overAnswers ? question_types::kLoopOverAnswers : question_types::kNumberedLoop, q);
      m_loopBases[lp] = overAnswers ? q : -1;
      const int loopTable = nextLoopTable++;
      for (int k = 0; k < kQuestionsPerLoop; ++k) question(2, 1, loopTable, pickType());
    } else {
      loop(1, 0, 1, question_types::kNumberedLoop, -1);
      const int outerTable = nextLoopTable++;
      const int innerTable = nextLoopTable++;
      question(2, 1, outerTable, pickType());
      textBlock(2, "Inner loop");
      loop(2, 1, outerTable, question_types::kNumberedLoop, -1);
      question(3, 2, innerTable, pickType());
      question(3, 2, innerTable, pickType());
      question(2, 1, outerTable, pickType());
    }
    ++loopsPlaced;
  }

  // Split some top-level multiple-choice questions over several tables.
  if (m_options.tables >= 2 && m_options.splitShare > 0) {
    bool any = false;
    for (int q : m_topQuestions) {
      CElement& e = m_elements[q];
      if (e.typeQuestion != question_types::kMultipleChoice || IsLoopBase(q)) continue;
      if (any && !rng.Chance(m_options.splitShare)) continue;
      any = true;
      const int parts = std::min<int>({m_options.tables, e.nbMaxReponse, 2 + int(rng.Below(2))});
      int32_t first = 1;
      for (int p = 0; p < parts; ++p) {
        const int32_t last = e.nbMaxReponse * (p + 1) / parts;
        const int table = (e.tableNumber - 1 + p) % m_options.tables + 1;
        e.additionalTables += fmt::format("{}{}:{},{}", p ? ";" : "", table, first, last);
        first = last + 1;
      }
    }
  }
  if (m_options.orphanTable) {
    int highest = 0;
    for (const CElement& e : m_elements) highest = std::max<int>(highest, e.tableNumber);
    auto split = std::find_if(m_elements.begin(), m_elements.end(),
                              [](const CElement& e) { return !e.additionalTables.empty(); });
    if (split == m_elements.end())
      throw std::invalid_argument(
          "--orphan-table needs a split question: --tables 2 or more "
          "and --split-share above 0");
    const CAdditionalTableToken last = ReadAdditionalTables(split->additionalTables).back();
    split->additionalTables.erase(split->additionalTables.rfind(';') + 1);
    split->additionalTables +=
        fmt::format("{}:{},{}", highest + 2, last.firstDataOrder, last.lastDataOrder);
  }

  CRandom semi(Mix(m_options.seed, 2));
  std::vector<int32_t> openCodes;
  for (const CElement& e : m_elements)
    if (e.typeElement == element_types::kQuestion &&
        (e.typeQuestion == question_types::kOpen ||
         e.typeQuestion == question_types::kSingleChoice))
      openCodes.push_back(e.code);
  int32_t soCode = m_options.sparseIds ? 5000 : 0;
  for (int i = 0; i < m_options.semiOpen; ++i) {
    soCode += m_options.sparseIds ? 1 + int32_t(semi.Below(40)) : 1;
    m_semiOpens.push_back(
        {soCode, openCodes.empty() ? 0 : openCodes[semi.Below(int64_t(openCodes.size()))],
         fmt::format("Autre réponse n°{} : l'\"exemple\"", i + 1), int32_t(semi.Below(4)), i + 1,
         int32_t(1 + semi.Below(50)),
         FormatSeconds(m_startSeconds + semi.Below(int64_t(m_options.days) * 86400)),
         i % 3 ? "codeur" : "O'Brien"});
  }
}

bool CSampleSurvey::IsLoopBase(int element) const {
  for (const auto& [loop, base] : m_loopBases)
    if (base == element) return true;
  return false;
}

void CSampleSurvey::BuildTables() {
  int highest = 0;
  for (const CElement& e : m_elements) {
    highest = std::max<int>(highest, e.tableNumber);
    for (const CAdditionalTableToken& token : ReadAdditionalTables(e.additionalTables))
      highest = std::max(highest, token.tableNumber);
  }
  m_tables.resize(size_t(highest));
  for (int t = 0; t < highest; ++t) m_tables[size_t(t)].number = t + 1;
  for (CElement& e : m_elements) {
    if (!e.dataFlag) continue;
    auto place = [&](int table, int32_t first, int32_t last) {
      CResponseTable& rt = m_tables[size_t(table - 1)];
      rt.depth = std::max(rt.depth, e.loopDepth);
      rt.fields.push_back({e.code, e.typeElement, e.typeQuestion, first, last});
    };
    if (e.additionalTables.empty()) {
      place(e.tableNumber, 1, e.nbMaxReponse);
    } else {
      for (const CAdditionalTableToken& token : ReadAdditionalTables(e.additionalTables)) {
        const CTokenRange range{token.tableNumber, token.FirstDataOrder(), token.LastDataOrder()};
        place(range.table, range.first, range.last);
        e.ranges.push_back(range);
      }
    }
  }
}

int CSampleSurvey::TableOf(const CElement& e, int32_t dataOrder) const {
  for (const CTokenRange& r : e.ranges)
    if (dataOrder >= r.first && dataOrder <= r.last) return r.table;
  return e.tableNumber;
}

CInterview CSampleSurvey::Interview(int64_t index) {
  CRandom rng(Mix(m_options.seed, 1000 + uint64_t(index)));
  CInterview interview;
  interview.id =
      m_options.sparseIds
          ? int32_t(100000 + index * 50 + int64_t(Mix(m_options.seed, uint64_t(index)) % 50))
          : int32_t(index + 1);

  const int64_t start = m_startSeconds + rng.Below(int64_t(m_options.days) * 86400);
  const int64_t end = start + 300 + rng.Below(3300);
  auto nullable = [&](CValue v) { return rng.Chance(m_options.nullShare) ? CValue() : v; };
  auto text = [](std::string s) { return CValue::FromText(std::move(s)); };
  auto integer = [](int64_t v) { return CValue::FromInt32(int32_t(v)); };
  interview.fields.reserve(kInterviewFields.size());
  for (const CInterviewField& f : kInterviewFields) {
    const std::string_view n = f.sourceColumn;
    CValue v;
    if (n == "AgentId")
      v = text(fmt::format("AG{:03}", rng.Below(40)));
    else if (n == "StartInterview")
      v = text(FormatSeconds(start));
    else if (n == "EndInterview")
      v = nullable(text(FormatSeconds(end)));
    else if (n == "Completed")
      v = integer(rng.Chance(m_options.completeShare) ? 1 : 0);
    else if (n == "LanguageId")
      v = integer(rng.Chance(0.8) ? 1036 : 1033);
    else if (n == "IPAddress")
      v = nullable(
          text(fmt::format("10.{}.{}.{}", rng.Below(256), rng.Below(256), rng.Below(256))));
    else if (n == "Guid")
      v = text(fmt::format("{:08x}-{:04x}-4{:03x}-a{:03x}-{:012x}", rng.Next() & 0xffffffff,
                           rng.Below(0x10000), rng.Below(0x1000), rng.Below(0x1000),
                           rng.Next() & 0xffffffffffffull));
    else if (n == "Longitude")
      v = nullable(CValue::FromDouble(-5.0 + double(rng.Below(1300000)) / 100000));
    else if (n == "Latitude")
      v = nullable(CValue::FromDouble(42.0 + double(rng.Below(900000)) / 100000));
    else if (f.kind == FieldKind::Integer)
      v = nullable(integer(rng.Below(20)));
    else
      v = nullable(text(fmt::format("{}-{}", n, rng.Below(1000))));
    interview.fields.push_back(std::move(v));
  }

  // Answers of the multiple-choice questions that loops iterate over, in this context.
  std::unordered_map<int, std::vector<int32_t>> answers;
  std::optional<int32_t> loopIds[2];
  int32_t order = 0;

  auto emit = [&](const CElement& e, int32_t dataOrder, CValue closed, CValue numeric, CValue open,
                  CValue duration) {
    CDataRow row;
    row.question = e.code;
    row.dataOrder = dataOrder;
    row.loop1 = loopIds[0];
    row.loop2 = loopIds[1];
    row.closed = std::move(closed);
    row.numeric = std::move(numeric);
    row.open = std::move(open);
    row.duration = std::move(duration);
    row.table = TableOf(e, dataOrder);
    row.order = order;
    interview.rows.push_back(std::move(row));
  };

  auto ask = [&](int el) {
    const CElement& e = m_elements[size_t(el)];
    const CValue duration = CValue::FromInt32(int32_t(1 + rng.Below(120)));
    if (rng.Chance(m_options.nullShare)) {
      answers[el].clear();
      emit(e, 1, {}, {}, {}, duration);
      return;
    }
    switch (e.typeQuestion) {
      case question_types::kSingleChoice:
        emit(e, 1, integer(1 + rng.Below(e.choiceCount)), {}, {}, duration);
        break;
      case question_types::kMultipleChoice: {
        std::vector<int32_t> codes(size_t(e.choiceCount));
        std::iota(codes.begin(), codes.end(), 1);
        const size_t chosen = size_t(1 + rng.Below(e.choiceCount));
        for (size_t i = 0; i < chosen; ++i)
          std::swap(codes[i], codes[i + size_t(rng.Below(int64_t(codes.size() - i)))]);
        codes.resize(chosen);
        for (size_t i = 0; i < chosen; ++i)
          emit(e, int32_t(i + 1), integer(codes[i]), {}, {}, duration);
        answers[el] = std::move(codes);
        break;
      }
      case question_types::kNumeric:
        emit(e, 1, {}, CValue::FromDouble(double(rng.Below(100000)) / 100), {}, duration);
        break;
      default: {
        std::string s;
        const int64_t words = 1 + rng.Below(6);
        for (int64_t w = 0; w < words; ++w) {
          if (w > 0) s += ' ';
          s += kWords[rng.Below(std::size(kWords))];
        }
        emit(e, 1, {}, {}, text(std::move(s)), duration);
      }
    }
  };

  // Walks the elements from `first` while they are deeper than `indent` - 1.
  std::function<size_t(size_t, int)> walk = [&](size_t i, int indent) -> size_t {
    while (i < m_elements.size() && m_elements[i].indent >= indent) {
      const CElement& e = m_elements[i];
      if (e.typeElement == element_types::kTextBlock) {
        ++i;
        continue;
      }
      if (e.typeElement == element_types::kQuestion) {
        ask(int(i));
        ++i;
        continue;
      }
      std::vector<int32_t> values;
      if (e.typeQuestion == question_types::kLoopOverAnswers) {
        values = answers[m_loopBases.at(int(i))];
      } else {
        const int64_t n = rng.Below(e.nbMaxReponse + 1);
        for (int32_t v = 1; v <= n; ++v) values.push_back(v);
      }
      for (size_t p = 0; p < values.size(); ++p)
        emit(e, int32_t(p + 1), integer(values[p]), {}, {}, {});
      const int depth = e.loopDepth;
      size_t after = i + 1;
      for (size_t p = 0; p < values.size(); ++p) {
        loopIds[depth] = values[p];
        const int32_t saved = order;
        order = int32_t(p + 1);
        after = walk(i + 1, e.indent + 1);
        order = saved;
      }
      loopIds[depth].reset();
      if (values.empty()) {
        after = i + 1;
        while (after < m_elements.size() && m_elements[after].indent > e.indent) ++after;
      }
      i = after;
    }
    return i;
  };
  walk(0, 1);
  return interview;
}

}  // namespace zx::sample
