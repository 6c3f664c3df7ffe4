/* Resource and control identifiers, shared by setup.rc and the code. */
#ifndef SKYRIFT_RESOURCE_H
#define SKYRIFT_RESOURCE_H

#define IDI_SETUP           99

#define IDD_SEARCH          101
#define IDR_SEARCH_CLIP     102
#define IDD_OVERWRITE       112
#define IDD_WELCOME         113
#define IDD_COPYING         121

#define IDC_BROWSE          1000
#define IDC_ANIMATE         1001
#define IDC_YESTOALL        1002
#define IDC_OVERWRITE_TEXT  1003

#endif
