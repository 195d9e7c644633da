// Text that goes into the program's one-line messages.
#ifndef SYNCSTATUS_RUN_MESSAGE_H_
#define SYNCSTATUS_RUN_MESSAGE_H_

#include <string>
#include <string_view>

namespace syncstatus {

/// `text` (a path, a key or an option) as a message shows it, so that the
/// message stays one line: each control byte (0x00 to 0x1F and 0x7F) becomes
/// `\n`, `\r` or `\t` for those three and `\xHH` (lower-case hex) for the
/// others. Every other byte passes unchanged, backslashes and bytes from 0x80
/// up (UTF-8) included.
std::string escape_for_message(std::string_view text);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_MESSAGE_H_
