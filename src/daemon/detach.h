// Turning the process into a background daemon.
#pragma once

// Forks; the calling process exits with status 0 and the child returns, with SIGTTOU and
// SIGTTIN ignored, "/" as working directory, umask 0 and the standard streams on
// /dev/null. A failure ends the process with status 1 ("fork() failed: %m" to the system
// log when the fork fails).
void daemon_detach();
