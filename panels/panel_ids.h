// Template and control ids of the four panels. Plain macros: the resource
// compiler reads this file too. Ids repeat across panels; each panel looks its
// own controls up.
#pragma once

#define IDD_LOCAL_DEVICE 135
#define IDD_REMOTE_DEVICE 136
#define IDD_CONNECTION 138
#define IDD_PAIR_DEVICE 139

// Local Device panel (135)
#define IDC_LD_BAUD_RATE 1005
#define IDC_LD_PARITY 1006
#define IDC_LD_FLOW_GROUP 1007
#define IDC_LD_FLOW_ENABLED 1008
#define IDC_LD_FLOW_DISABLED 1009
#define IDC_LD_STOP_GROUP 1010
#define IDC_LD_STOP_ONE 1011
#define IDC_LD_STOP_TWO 1012
#define IDC_LD_DEVICE_NAME 1013
#define IDC_LD_AT_COMMAND 1014
#define IDC_LD_COM_PORT 1016
#define IDC_LD_DISCOVERABLE_GROUP 1018
#define IDC_LD_DISCOVERABLE 1019
#define IDC_LD_NON_DISCOVERABLE 1020
#define IDC_LD_MODE_GROUP 1021
#define IDC_LD_SLAVE 1022
#define IDC_LD_MASTER 1023
#define IDC_LD_ESCAPE_MODE 1027
#define IDC_LD_ECHO_MODE 1028
#define IDC_LD_AUTO_POWER 1029
#define IDC_LD_COMMAND_RESPONSE 1030
#define IDC_LD_REMOTE_CONFIG 1031
#define IDC_LD_PIN_CODE 1039
#define IDC_LD_DEVICE_ADDRESS 1044
#define IDC_LD_DISABLE_AUTH 1045
#define IDC_LD_FW_VERSION 1046
#define IDC_LD_AUTO_CONNECT 1047
#define IDC_LD_PROGRAM_DEVICE 1048
#define IDC_LD_RESET_DEVICE 1049
#define IDC_LD_GET_DEVICE_INFO 1050
#define IDC_LD_RESTART_DEVICE 1051
#define IDC_LD_SEND_AT_COMMAND 1052

// Remote Device panel (136)
#define IDC_RD_PROGRAM_REMOTE 1004
#define IDC_RD_HANDSHAKE 1005
#define IDC_RD_EXIT_REMOTE 1006
#define IDC_RD_BAUD_RATE 1015
#define IDC_RD_ADDRESS 1038

// Connection panel (138)
#define IDC_CN_INQUIRE 1005
#define IDC_CN_ADDRESS 1006
#define IDC_CN_CONNECT 1007
#define IDC_CN_RESULTS 1008
#define IDC_CN_CANCEL_INQUIRY 1009
#define IDC_CN_DISCONNECT 1010

// Pair Device panel (139)
#define IDC_PD_DEVICE1_ADDRESS 1009
#define IDC_PD_PAIR 1011
#define IDC_PD_UNPAIR 1012
#define IDC_PD_DEVICE2_ADDRESS 1039
#define IDC_PD_DEVICE2_NAME 1040
#define IDC_PD_DEVICE1_NAME 1041

// Longest texts the adapter's fields and the command buffer take.
#define LD_NAME_LIMIT 15
#define LD_PIN_LIMIT 7
#define LD_AT_COMMAND_LIMIT 28
// "AT+CONN=", the address and CR fill the 30-byte command buffer.
#define CN_ADDRESS_LIMIT 20
