#pragma once
// The text of an HTML body, for reading what a mail says when it has no
// plain-text part. Not a full HTML parser; it reads in one pass, in time and
// memory linear in the input, keeping no stack of open elements:
// - Tags are removed, attributes with them (a '>' inside a quoted attribute
//   value does not end the tag). Comments, <!...> and <?...> are dropped. A
//   '<' that starts no tag is text ("1 < 2").
// - The contents of script, style and title are dropped up to their end tag
//   (to the end of the input when there is none), and all text of the head:
//   from <head> to </head>, <body>, or the first start tag of an element that
//   does not belong in a head (the end tag is often left out).
// - br, p, div, tr, li, h1-h6 (and the other block elements: table, ul, ol,
//   dl, dt, dd, blockquote, pre, hr, section, article, header, footer, ...)
//   end the line; <br> always gives a line break, the others only where the
//   line is not empty. Table cells (td, th) are separated by a space.
// - White space is collapsed as a browser shows it (a run of it is one space,
//   none at a line's start), except inside pre.
// - Character references: the common named ones (&amp; &lt; &gt; &quot;
//   &apos; &nbsp; and a few dozen symbols; with their ';'), decimal &#...; and
//   hexadecimal &#x...; (the ';' may be missing). &#0;, surrogates and values
//   past U+10FFFF become U+FFFD; unknown names stay as written.
// - Invalid UTF-8 is replaced by U+FFFD, so the text is always valid UTF-8.
//   Line breaks at the end are dropped.

#include <string>
#include <string_view>

namespace qm {

// The text of `html` (UTF-8), one line per line of blocks.
std::string HtmlToText(std::string_view html);

}  // namespace qm
