#pragma once

namespace platform {

// Qt needs a UTF-8 locale and warns on standard error when the environment gives it none (the C
// locale of cron, systemd units and bare systems) before switching to C.UTF-8 itself. A command
// line tool's standard error is for its own messages, so it asks for C.UTF-8's character handling
// first. Call before the Q(Core)Application is made; messages and formats stay as the user set.
void preferUtf8Locale();

}  // namespace platform
