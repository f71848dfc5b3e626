// The single-instance hand-over: a second start of the program passes its command line to the
// one running as a record (type, length, bytes), and the receiver decides what to do with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kHandOverCommandLine = 1;  // the only record type: a command line
constexpr uint32_t kHandOverMaxBytes = 1 << 20;  // a longer record is refused (no path is that long)

// The record's bytes: type and length (the text's bytes plus a terminating zero) as 32-bit
// little-endian numbers, then the text and its zero.
std::vector<unsigned char> EncodeHandOver(uint32_t uType, const std::string& sText);

enum class HandOverParse { Incomplete, Complete, Bad };
// Reads a record from the bytes received so far.
HandOverParse DecodeHandOver(const std::vector<unsigned char>& ab, uint32_t* puType, std::string* psText);

enum class HandOverAction { Ignore, LoadPatch, OpenPackage, UnexpectedType };
// What the receiver does with a record: the text after the last "." chooses ("vantrel" or
// "vantrel\"" loads a patch, "vanpack" or "vanpack\"" opens a package); other types are reported.
HandOverAction ClassifyHandOver(uint32_t uType, const std::string& sText);

// The command line a start hands over for a path given as an argument: made absolute against
// the current folder (the receiver runs elsewhere), and quoted when it holds a space, as a
// shell's file association would pass it.
std::string HandOverCommandLine(const std::string& sArgument);
