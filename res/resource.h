// Resource identifiers of the setup program.
#pragma once

#define IDS_SETUP_TITLE 103
#define IDI_SETUP 108
#define IDS_SETUP_CLASS 109
// The installer's arguments for quiet and passive runs; only `vtrpack stamp
// --unattended-arguments` puts it in.
#define IDS_UNATTENDED_ARGUMENTS 110
#define IDB_BAR_EMPTY_BODY 129
#define IDB_BAR_EMPTY_RIGHT 130
#define IDB_BAR_EMPTY_LEFT 131
#define IDB_BAR_FILLED_LEFT 132
#define IDB_BAR_FILLED_RIGHT 133
#define IDB_BAR_FILLED_BODY 134
#define IDR_PAYLOAD 137
