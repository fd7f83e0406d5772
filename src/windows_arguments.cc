#include "windows_arguments.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "windows_text.h"

namespace placeharvest {
namespace {

struct CommandLineWord {
  std::wstring text;
  std::vector<bool> quoted;  // for each character of text
};

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool is_wildcard(wchar_t c) { return c == L'*' || c == L'?'; }

void append(CommandLineWord& word, wchar_t c, bool quoted, size_t count = 1) {
  word.text.append(count, c);
  word.quoted.insert(word.quoted.end(), count, quoted);
}

// Windows' own order of names: ordinal, without regard to case.
bool comes_before(const std::wstring& first, const std::wstring& second) {
  return CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) ==
         CSTR_LESS_THAN;
}

// Splits `line` into the program's name and its arguments; blanks outside
// double quotes separate arguments.
std::vector<CommandLineWord> split_command_line(std::wstring_view line) {
  std::vector<CommandLineWord> words(1);
  size_t i = 0;
  bool in_quotes = false;
  for (; i < line.size() && (in_quotes || !is_blank(line[i])); ++i) {
    if (line[i] == L'"') {
      in_quotes = !in_quotes;
    } else {
      append(words[0], line[i], in_quotes);
    }
  }
  for (;;) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) return words;
    CommandLineWord word;
    in_quotes = false;
    while (i < line.size() && (in_quotes || !is_blank(line[i]))) {
      if (line[i] == L'\\') {
        size_t backslashes = 0;
        for (; i < line.size() && line[i] == L'\\'; ++i) ++backslashes;
        if (i < line.size() && line[i] == L'"') {
          append(word, L'\\', in_quotes, backslashes / 2);
          if (backslashes % 2 == 1) {
            append(word, L'"', in_quotes);
            ++i;
          }
        } else {
          append(word, L'\\', in_quotes, backslashes);
        }
      } else if (line[i] == L'"') {
        if (in_quotes && i + 1 < line.size() && line[i + 1] == L'"') {
          append(word, L'"', true);
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
      } else {
        append(word, line[i], in_quotes);
        ++i;
      }
    }
    words.push_back(word);
  }
}

// The names of the files that `word` matches, with the folder it names in
// front of each; the word's text alone when it holds no unquoted wildcard;
// nothing when its wildcard matches no file.
std::vector<std::wstring> expand_wildcards(const CommandLineWord& word) {
  const std::wstring& text = word.text;
  size_t name_start = text.find_last_of(L"\\/:");
  name_start = name_start == std::wstring::npos ? 0 : name_start + 1;
  bool unquoted_wildcard = false;
  for (size_t k = 0; k < text.size(); ++k) {
    if (!is_wildcard(text[k])) continue;
    // No file name holds a wildcard, so a quoted one matches nothing; and
    // Windows matches wildcards in the last part of a path only.
    if (word.quoted[k] || k < name_start) return {text};
    unquoted_wildcard = true;
  }
  if (!unquoted_wildcard) return {text};

  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(text.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  if (names.empty()) return {};
  std::sort(names.begin(), names.end(), comes_before);
  for (std::wstring& name : names) name.insert(0, text, 0, name_start);
  return names;
}

}  // namespace

std::vector<ProgramArgument> windows_arguments() {
  std::vector<CommandLineWord> words = split_command_line(GetCommandLineW());
  std::vector<ProgramArgument> arguments{{utf8_from_utf16(words[0].text), {}}};
  for (size_t i = 1; i < words.size(); ++i) {
    std::vector<std::wstring> names = expand_wildcards(words[i]);
    std::string text = utf8_from_utf16(words[i].text);
    if (names.empty()) {
      // Passed on as typed, as the C runtime does, and marked.
      arguments.push_back({text, "", true});
      continue;
    }
    // No file name holds a wildcard, so a name that differs from the word
    // came from matching it.
    bool expanded = names.size() != 1 || names[0] != words[i].text;
    for (const std::wstring& name : names) {
      arguments.push_back({utf8_from_utf16(name), expanded ? text : ""});
    }
  }
  return arguments;
}

}  // namespace placeharvest
