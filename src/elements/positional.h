// Positional elements: tests of where a position lies. A newline is the byte 0x0A; a carriage return is an
// ordinary byte, so a CRLF line ends at its LF and the CR belongs to the line.
#pragma once

#include "elements/element.h"

namespace quillex {

// LineStart: zero-length match at 0 or just after a newline. Fails with "Expected start of line".
class LineStartElement final : public Element {
 public:
  LineStartElement() noexcept : Element(Kind::LineStart) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~LineStartElement() override = default;
};

// LineEnd: matches at the length (consuming nothing) or at a newline (consuming it); the token is always "\n".
// Fails with "Expected end of line".
class LineEndElement final : public Element {
 public:
  LineEndElement() noexcept : Element(Kind::LineEnd) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~LineEndElement() override = default;
};

// StringStart: zero-length match at 0 only. Fails with "Expected start of string".
class StringStartElement final : public Element {
 public:
  StringStartElement() noexcept : Element(Kind::StringStart) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~StringStartElement() override = default;
};

// StringEnd: zero-length match at the length only. Fails with "Expected end of string".
class StringEndElement final : public Element {
 public:
  StringEndElement() noexcept : Element(Kind::StringEnd) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~StringEndElement() override = default;
};

// rest_of_line: consumes up to (not including) the next newline or the end; the token is that slice, possibly
// empty. Fails (with the stored "Expected rest of line") only past the length, and at a position inside a
// multi-byte character, where its token would split the character.
class RestOfLineElement final : public Element {
 public:
  RestOfLineElement();
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  const StrRef& message() const noexcept { return message_; }

 private:
  ~RestOfLineElement() override = default;
  StrRef message_;
};

// Smallest i >= pos with text[i] == '\n', or text.size() when there is none.
Pos find_newline(std::string_view text, Pos pos) noexcept;

}  // namespace quillex
