#pragma once

namespace remote {

// One poll of the remote control page (the poll clock of the internet settings window runs it):
// copies the page's current title, splits it into the window's hidden fields and switches
// device 1 on for a title beginning with "1", off for one beginning with "0". Nothing else of the
// title acts. Does nothing when the internet settings window is not loaded.
void PollRemotePage();

}  // namespace remote
