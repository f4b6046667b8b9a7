#pragma once

// Server editions ask for the privilege to manage volumes to attach and
// detach a virtual disk; an elevated administrator's token holds it but
// does not enable it. Enables it where the token holds it and changes
// nothing where it does not. Keeps the thread's last error.
// Returns: true when the privilege is enabled now, else false.
bool EnableVolumePrivilege();
