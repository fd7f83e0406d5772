// Writes a synthetic GEDCOM family tree of about a given size to standard
// output, the same bytes for the same seed on every machine:
//
//   generate_gedcom SIZE [--seed N] [--crlf] [--cut-short] [--dense]
//
// SIZE takes a K, M or G suffix (powers of 1024). The tree has individuals
// and families with Swedish names, dates and places, notes with long CONC and
// CONT lines, and place records of the shapes real exports have: six-line
// MAP records, three-line MAP records, records with a note first, with a
// standard name after the coordinates and with the longitude first, about
// one line in twenty-five. --crlf writes CR LF line ends. --cut-short ends
// the file inside a place record instead of with "0 TRLR". --dense writes a
// tree as dense in places as real exports of some programs are: about 1.1
// million place records per GiB, with long notes between them.
//
// On standard error it says what it wrote, for checks of the outputs:
//   bytes=B lines=L place_records=P place_lines=Q place_bytes=R
//   cut_short_line=C left_out_lines=N first_left_out_line=F
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kFirstNames[] = {
    "Anna",  "Karl",   "Märta",   "Göran", "Åsa",    "Björn", "Ingegärd",
    "Östen", "Sigrid", "Olof",    "Maja",  "Gustaf", "Brita", "Lars",
    "Elin",  "Nils",   "Kerstin", "Erik",  "Hedvig", "Per"};
constexpr std::string_view kSurnames[] = {
    "Lindqvist", "Ekström",   "Åberg",  "Söderlund", "Hägg",
    "Andersson", "Björklund", "Öhman",  "Forsberg",  "Nyström",
    "Sjögren",   "Wästfelt",  "Lundin", "Ström",     "Dahlgren"};
constexpr std::string_view kPlaces[] = {"Österåker, Stockholms län",
                                        "Växjö, Kronobergs län",
                                        "Skellefteå, Västerbottens län",
                                        "Luleå, Norrbottens län",
                                        "Örebro, Örebro län",
                                        "Mölndal, Göteborgs och Bohus län",
                                        "Hässleholm, Kristianstads län",
                                        "Norrtälje, Stockholms län",
                                        "Gävle, Gävleborgs län",
                                        "Strängnäs, Södermanlands län",
                                        "Jönköping, Jönköpings län",
                                        "Åmål, Älvsborgs län"};
constexpr std::string_view kNoteWords[] = {"enligt",
                                           "husförhörslängden",
                                           "flyttade",
                                           "familjen",
                                           "till",
                                           "gården",
                                           "Övre",
                                           "Åby",
                                           "där",
                                           "fadern",
                                           "arbetade",
                                           "som",
                                           "torpare",
                                           "och",
                                           "modern",
                                           "väverska;",
                                           "bouppteckning",
                                           "finns",
                                           "i",
                                           "häradsrätten,",
                                           "se",
                                           "även",
                                           "kyrkböckerna",
                                           "för"};
constexpr std::string_view kMonths[] = {"JAN", "FEB", "MAR", "APR",
                                        "MAY", "JUN", "JUL", "AUG",
                                        "SEP", "OCT", "NOV", "DEC"};

// splitmix64: small, fast, and the same everywhere, unlike the standard
// library's distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t bound) { return next() % bound; }
  template <size_t N>
  std::string_view pick(const std::string_view (&items)[N]) {
    return items[below(N)];
  }

 private:
  uint64_t state_;
};

class Writer {
 public:
  explicit Writer(std::string_view line_end) : line_end_(line_end) {
    buffer_.reserve(kFlushAt + 4096);
  }

  // Appends one line made of `parts`, with the line end.
  template <typename... Parts>
  void line(const Parts&... parts) {
    (buffer_.append(parts), ...);
    buffer_.append(line_end_);
    ++lines_;
    if (buffer_.size() >= kFlushAt) flush();
  }

  void flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(),
                                        stdout) != buffer_.size()) {
      std::fprintf(stderr, "generate_gedcom: %s\n", std::strerror(errno));
      std::exit(2);
    }
    bytes_ += buffer_.size();
    buffer_.clear();
  }

  uint64_t bytes() const { return bytes_ + buffer_.size(); }
  uint64_t lines() const { return lines_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  std::string_view line_end_;
  std::string buffer_;
  uint64_t bytes_ = 0;
  uint64_t lines_ = 0;
};

std::string number(uint64_t value) { return std::to_string(value); }

std::string date(Random& random) {
  return number(1 + random.below(28)) + " " +
         std::string(random.pick(kMonths)) + " " +
         number(1700 + random.below(250));
}

std::string note_text(Random& random, size_t words) {
  std::string text;
  for (size_t i = 0; i < words; ++i) {
    if (i > 0) text += ' ';
    text += random.pick(kNoteWords);
  }
  return text;
}

std::string coordinate(Random& random, char positive, char negative,
                       int range) {
  int64_t micro = static_cast<int64_t>(random.below(2 * range * 10000ULL)) -
                  range * 10000LL;
  char sign = micro < 0 ? negative : positive;
  uint64_t magnitude = static_cast<uint64_t>(micro < 0 ? -micro : micro);
  char text[32];
  std::snprintf(text, sizeof text, "%c%" PRIu64 ".%04" PRIu64, sign,
                magnitude / 10000, magnitude % 10000);
  return text;
}

void individual(Writer& out, Random& random, uint64_t id, uint64_t families,
                bool long_note) {
  std::string first(random.pick(kFirstNames));
  std::string last(random.pick(kSurnames));
  out.line("0 @I", number(id), "@ INDI");
  out.line("1 NAME ", first, " /", last, "/");
  out.line("2 GIVN ", first);
  out.line("2 SURN ", last);
  out.line("1 SEX ", random.below(2) ? "M" : "F");
  out.line("1 BIRT");
  out.line("2 DATE ", date(random));
  out.line("2 PLAC ", random.pick(kPlaces));
  if (random.below(2)) {
    out.line("1 DEAT");
    out.line("2 DATE ", date(random));
    out.line("2 PLAC ", random.pick(kPlaces));
  }
  if (long_note || random.below(3) == 0) {
    // Some notes run past 200 bytes on a single line.
    out.line("1 NOTE ", note_text(random, 3 + random.below(40)));
    out.line("2 CONC ", note_text(random, 5 + random.below(30)));
    out.line("2 CONT ", note_text(random, 2 + random.below(10)));
  }
  out.line("1 FAMS @F", number(1 + random.below(families)), "@");
  out.line("1 CHAN");
  out.line("2 DATE ", date(random));
}

void family(Writer& out, Random& random, uint64_t id, uint64_t individuals) {
  out.line("0 @F", number(id), "@ FAM");
  out.line("1 HUSB @I", number(1 + random.below(individuals)), "@");
  out.line("1 WIFE @I", number(1 + random.below(individuals)), "@");
  for (uint64_t i = random.below(4); i > 0; --i) {
    out.line("1 CHIL @I", number(1 + random.below(individuals)), "@");
  }
  out.line("1 MARR");
  out.line("2 DATE ", date(random));
  out.line("2 PLAC ", random.pick(kPlaces));
}

// Lines of place records that are not coordinates: PlaceHarvest leaves them
// out of both files and says so.
struct LeftOut {
  uint64_t lines = 0;
  uint64_t first_line = 0;

  void add(const Writer& out, uint64_t count) {
    if (lines == 0) first_line = out.lines() + 1;
    lines += count;
  }
};

void place_record(Writer& out, Random& random, LeftOut& left_out) {
  std::string_view place = random.pick(kPlaces);
  uint64_t shape = random.below(20);
  out.line("0 _PLAC ", place);
  if (shape < 3) {  // a note first
    left_out.add(out, 2);
    out.line("1 NOTE ", note_text(random, 4 + random.below(8)));
    out.line("2 CONT ", note_text(random, 2 + random.below(6)));
  }
  out.line("1 MAP");
  std::string latitude = coordinate(random, 'N', 'S', 90);
  std::string longitude = coordinate(random, 'E', 'W', 180);
  if (shape >= 16) {  // longitude first
    out.line("2 LONG ", longitude);
    out.line("2 LATI ", latitude);
  } else {
    out.line("2 LATI ", latitude);
    out.line("2 LONG ", longitude);
  }
  if (shape >= 3 && shape < 12) {  // six lines
    out.line("2 ZOOM ", number(5 + random.below(12)));
    out.line("2 PLEV ", number(1 + random.below(4)));
  } else if (shape >= 12 && shape < 16) {  // a standard name after
    left_out.add(out, 1);
    out.line("1 STND ", place);
  }
}

uint64_t parse_size(const char* text) {
  char* end = nullptr;
  uint64_t value = std::strtoull(text, &end, 10);
  switch (*end) {
    case 'G':
      value <<= 10;
      [[fallthrough]];
    case 'M':
      value <<= 10;
      [[fallthrough]];
    case 'K':
      value <<= 10;
      ++end;
      break;
    default:
      break;
  }
  if (end == text || *end != '\0') {
    std::fprintf(stderr, "generate_gedcom: bad size %s\n", text);
    std::exit(2);
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t size = 0;
  uint64_t seed = 1;
  bool crlf = false;
  bool cut_short = false;
  bool dense = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--crlf") {
      crlf = true;
    } else if (argument == "--cut-short") {
      cut_short = true;
    } else if (argument == "--dense") {
      dense = true;
    } else if (argument == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (size == 0 && !argument.empty() && argument[0] != '-') {
      size = parse_size(argv[i]);
    } else {
      std::fprintf(stderr,
                   "usage: generate_gedcom SIZE [--seed N] [--crlf] "
                   "[--cut-short] [--dense]\n");
      return 2;
    }
  }

  Random random(seed);
  Writer out(crlf ? "\r\n" : "\n");
  out.line("0 HEAD");
  out.line("1 SOUR generate_gedcom");
  out.line("1 GEDC");
  out.line("2 VERS 5.5.1");
  out.line("2 FORM LINEAGE-LINKED");
  out.line("1 CHAR UTF-8");
  // Sized so that references point at records of about the right range.
  uint64_t individuals = size / 400 + 1;
  uint64_t families = individuals / 3 + 1;
  uint64_t individual_id = 0;
  uint64_t family_id = 0;
  uint64_t place_records = 0;
  uint64_t place_lines = 0;
  uint64_t place_bytes = 0;
  LeftOut left_out;
  while (out.bytes() < size) {
    // One place record in about 976 bytes is 1.1 million per GiB.
    bool place_due = dense ? place_records * 976 < out.bytes()
                           : place_lines * 25 < out.lines();
    if (place_due) {
      uint64_t lines_before = out.lines();
      uint64_t bytes_before = out.bytes();
      place_record(out, random, left_out);
      place_lines += out.lines() - lines_before;
      place_bytes += out.bytes() - bytes_before;
      ++place_records;
    } else if (random.below(4) == 0) {
      family(out, random, ++family_id, individuals);
    } else {
      individual(out, random, ++individual_id, families, dense);
    }
  }
  uint64_t cut_short_line = 0;
  if (cut_short) {
    cut_short_line = out.lines() + 1;
    uint64_t bytes_before = out.bytes();
    out.line("0 _PLAC ", random.pick(kPlaces));
    out.line("1 MAP");
    out.line("2 LATI ", coordinate(random, 'N', 'S', 90));
    ++place_records;
    place_lines += 3;
    place_bytes += out.bytes() - bytes_before;
  } else {
    out.line("0 TRLR");
  }
  out.flush();
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "generate_gedcom: %s\n", std::strerror(errno));
    return 2;
  }
  std::fprintf(
      stderr,
      "bytes=%" PRIu64 " lines=%" PRIu64 " place_records=%" PRIu64
      " place_lines=%" PRIu64 " place_bytes=%" PRIu64 " cut_short_line=%" PRIu64
      " left_out_lines=%" PRIu64 " first_left_out_line=%" PRIu64 "\n",
      out.bytes(), out.lines(), place_records, place_lines, place_bytes,
      cut_short_line, left_out.lines, left_out.first_line);
  return 0;
}
