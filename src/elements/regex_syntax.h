// What a regular expression's text tells before it is compiled, read in RE2's dialect: how deeply it nests,
// and a conservative summary of what its matches can look like (whether one can be empty, which bytes can start
// one, and whether the whole pattern is one character class repeated). The summary lets the Regex element
// refuse a position without entering RE2 and run class runs as byte scans; it is sound only because it errs one
// way: `may_be_empty` may be true for a pattern that never matches empty, `first_bytes` may hold bytes no match
// starts with, and a construct the reader does not know gives no summary at all. No RE2 and no Python here.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillex::regex_syntax {

// The nesting depth of `pattern`: the largest number of groups and repetitions that enclose one another, each
// group ("(...)", "(?:...)", "(?P<name>...)", "(?flags:...)") and each repetition operator ("*", "+", "?",
// "{n,m}", lazy or not) being one level. Characters, classes (which never nest in this dialect), escapes such
// as "\(", text between "\Q" and "\E", assertions and flag settings ("(?i)") are no level; an alternation or a
// sequence is as deep as its deepest part. An operator right after another is a compile error ("a**"), but one
// after a flag setting or an empty quote repeats the repetition before it. Examples: "a" 0, "a*" 1, "(a)*" 2,
// "((a|b*)c)+" 4, "[(]\(" 0, "a*(?i)*" 2.
// The count stops as soon as it passes `limit` (returning limit + 1), so a huge pattern costs one pass at
// most. Any text is accepted: a malformed pattern gets some depth, and its compile reports the fault.
int nesting_depth(std::string_view pattern, int limit);

// A set of bytes with what it says of non-ASCII characters: `bytes` holds the ASCII members and the lead
// bytes any non-ASCII member's UTF-8 form may begin with; `wide` says whether no, some or all non-ASCII
// characters are members.
struct CharClass {
  enum class Wide : std::uint8_t { None, Some, All };
  std::bitset<256> bytes;
  Wide wide = Wide::None;
};

struct Shape {
  // The pattern may match the empty string somewhere (false: every match has at least one byte).
  bool may_be_empty = true;
  // Every non-empty match starts with one of these bytes (a superset; continuation bytes included only for
  // patterns with '\C').
  std::bitset<256> first_bytes;
  // The pattern is exactly one character class followed by a greedy '+' or '*' (as "[0-9]+", "\w*", "[^\n]*",
  // ".*", "a+"), with no flag anywhere and a class whose non-ASCII part is none or all: its matches are then the
  // maximal runs of member bytes. `run_class.bytes` is exact for ASCII, and holds 0x80-0xFF when `wide` is All.
  std::optional<CharClass> run_class;
  bool run_may_be_empty = false;  // '*' rather than '+'
};

// Whether a match of `pattern` at a position depends on the text from there on alone, and lies on character
// boundaries: no assertion reads the character before it ('^', '\A', '\b', '\B'; '$' and '\z' read only what
// follows, under the multi-line flag too) and no '\C' takes a single byte. False for a pattern this reader does
// not read exactly, so the answer errs one way only. Examples: "x+y", "a$", "(?m)x$", "[]^]", "\Q^\E" true;
// "^x", "a|(?:^b)", "\bx", "\Cx" false.
bool reads_only_forward(std::string_view pattern);

// The summary of a pattern that RE2 compiled without error; nullopt when the pattern holds a construct this
// reader does not vouch for.
std::optional<Shape> read_shape(std::string_view pattern);

// One item of a plain sequence: a literal character (`literal`; then min = max = 1), or a character class
// repeated greedily `min` to `max` times (`max` -1: no upper bound). `cls` is exact: its ASCII part is the
// ASCII members, and its non-ASCII part is none or all, in which case 0x80-0xFF are all set (so that a class
// run ends on a character boundary, as regex_run.h explains). For a literal, `cls` holds the first byte of its
// UTF-8 form. `source` is the item's text in the pattern when it was not written as itself (an escape, a
// bracket class, '.'), so that the reading can be checked against RE2; empty for a character written as
// itself.
struct SequenceItem {
  std::optional<char32_t> literal;
  CharClass cls;
  int min = 1;
  int max = 1;
  std::string_view source;
};

// The pattern as a plain sequence whose greedy walk is its leftmost-first match, or nullopt. A plain sequence
// is a concatenation of characters and classes (whose non-ASCII part is none or all) with greedy counts
// ("*", "+", "?", "{n}", "{n,}", "{n,m}"; a count on a non-ASCII character is refused), groups without
// flags, alternation or a count around them ("(a)(?:b)" is "ab") and empty quotes; no flag, no assertion, no
// '\C', no lazy count. Items counted "{0}" match nothing and are left out. Every item whose count may vary
// (min < max) must be followed by bytes disjoint from its class: those of the later items up to and including
// the first one that takes at least one character; when every later item may take none, the pattern's end.
// Then a repetition never has to give a character back, and the greedy walk (each item in turn takes as many
// members as it may, and the pattern fails where one takes fewer than its minimum) finds exactly the
// leftmost-first match at a position, and fails exactly where there is none: a character that an item with
// fewer repetitions left would have to be taken by a later item that cannot take it. Example: "[a-z]+=\d+"
// and "\"[^\"\n]*\"" are sequences; "a*a", "[a-z]*\w" and "a*b?a" are not (the 'a' after "b?" could take
// what "a*" gives back).
std::optional<std::vector<SequenceItem>> read_sequence(std::string_view pattern);

// A pattern as a tree, for patterns beyond plain sequences: characters and classes (`item`, read as for a
// sequence, with min = max = 1), concatenations and alternations of parts (`parts`, in order), and counts
// around one part (`parts[0]`, taken `min` to `max` times, -1: no upper bound; greedy unless `lazy`). Groups
// without flags are their contents, empty quotes add nothing.
struct PatternNode {
  enum class Type : std::uint8_t { Item, Concat, Alternation, Repeat };
  Type type = Type::Concat;
  SequenceItem item;
  std::vector<PatternNode> parts;
  int min = 1;
  int max = 1;
  bool lazy = false;
};

// The pattern as a tree, or nullopt when it holds anything but characters, classes whose non-ASCII part is
// none or all, groups without flags, alternation and counts: no flag, no assertion, no '\C', no Unicode class,
// and no count right after another (with an empty quote between them). The tree says nothing of how a match is
// found; the Regex element's automaton (regex_automaton.h) takes it from there.
std::optional<PatternNode> read_tree(std::string_view pattern);

// Appends the UTF-8 form of `c` (at most U+10FFFF).
void append_utf8(std::string& out, char32_t c);
// The UTF-8 form of `c` (at most U+10FFFF).
inline std::string utf8_of(char32_t c) {
  std::string out;
  append_utf8(out, c);
  return out;
}

}  // namespace quillex::regex_syntax
