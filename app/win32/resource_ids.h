#pragma once

// Identifiers of the updater's resources, shared by the resource script and the code.
#define IDI_QUENDAL 1
#define IDB_BANNER 101
#define IDB_CANCEL 102
#define IDB_RESTART 103
#define IDB_CLOSE 104
