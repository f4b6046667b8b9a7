// What a helper program started from here inherits: standard input, output
// and error only. Whoever started this program may have left descriptors
// open in it (a lock, a pipe); a helper that kept them, such as a file
// system driver that lives as long as its mount, would hold them for good.
#pragma once

// Marks every descriptor above 2 close-on-exec, so that the next program
// started (by this layer or by a library it calls) gets 0-2 only.
void CloseDescriptorsOnExec();
