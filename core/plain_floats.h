#pragma once
// A quick reading of the numbers of a point-file line, for lines made of plain decimal numbers
// (`-12.5`, `.5`, `3e-2`). It stands in for sscanf's "%f %f %f" (and "%*s" to skip a field)
// only where both are certain to agree, and says so when it is not, so the caller can ask sscanf.

namespace kestrel::core {

enum class PlainScan {
  kThree,   // three numbers read, with the floats sscanf gives them
  kNone,    // sscanf converts nothing here (a blank line, or a field no number starts like)
  kUnsure,  // anything else: only sscanf can tell (hex, inf, nan, 1e99, "1,2", a word after a
            // number, ...)
};

// True when the current locale writes the decimal point as '.', as the quick reading assumes
// (sscanf follows the locale). Ask once per file, not per line.
bool plain_decimal_locale();

// Reads three whitespace-separated numbers from `text` into `out`, as "%f %f %f" would. `out`
// is filled only with kThree.
PlainScan scan_plain_floats(const char* text, float (&out)[3]);
// The same as "%lf %lf %lf" reads them.
PlainScan scan_plain_floats(const char* text, double (&out)[3]);

// Among the first `count` whitespace-separated fields of `text`, the first that starts as a
// number but goes on past it ("3.5D+02", "4,5", "12abc"), where "%f" would quietly read a
// shorter number; nullptr when every field that starts as a number ends as one, or a field
// does not start as one (a word ends the look).
const char* number_with_trailing_characters(const char* text, int count);

// Steps over `count` whitespace-delimited fields as "%*s" does, and returns where the text goes
// on; nullptr when unsure or when a field is missing (ask sscanf then).
const char* skip_plain_fields(const char* text, int count);

}  // namespace kestrel::core
