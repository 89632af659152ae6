// Resource identifiers of lumbrel. Plain numbers only: included by the
// resource script, the program and the native tests.
#ifndef LUMBREL_RES_RESOURCE_H
#define LUMBREL_RES_RESOURCE_H

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_AGPMODE 102
#define IDI_APP 128

#define IDC_SET_MODE 1001
#define IDC_RATE_1X 1005
#define IDC_RATE_2X 1006
#define IDC_PIPE 1007
#define IDC_SBA 1008
#define IDC_ADDRESSING_BOX 1009
#define IDC_BIT_RATE_BOX 1010
#define IDC_CHIPSET_LABEL 1011
#define IDC_ADAPTER_LABEL 1012
#define IDC_ADAPTER_RATE 1013
#define IDC_CHIPSET_RATE 1014
#define IDC_CHIPSET_SBA 1015
#define IDC_ADAPTER_SBA 1016

// System-menu command of the About item.
#define IDM_ABOUT 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
