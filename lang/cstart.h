// Start-up and shutdown.
#pragma once

// Ends the program with `status` after closing down devices and files.
[[noreturn]] void finish(int status);
