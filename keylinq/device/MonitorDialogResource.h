#pragma once
// Resource id of the device monitor's hidden dialog (also read by the
// resource compiler).
#define IDD_MONITOR_DIALOG 8101
