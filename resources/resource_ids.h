// Resource ids of the stub, shared by mavusfx.rc and the window code.
#pragma once

#define IDD_CANCEL 101        // the stop button's child dialog
#define IDI_APP 102           // icon group: one 32 x 32 image, 16 colours
#define IDD_DESTINATION 103   // the destination dialog

#define IDC_DEST_FOLDER 1000
#define IDC_BROWSE 1001
#define IDC_START_MENU 1002
#define IDC_DESKTOP 1003
#define IDC_SEND_TO 1004
