/* ==== Ids ====
 * Every control that acts, by its fixed id; the icon resource; the one
 * transmit timer. Commands are routed by these numbers. */
#ifndef TESSARY_IDS_H
#define TESSARY_IDS_H

#define IDC_CALLSIGN_EDIT      1000
#define IDC_SIGNOFF            1001
#define IDC_CALLSIGN_BUTTON    1002
#define IDC_REPEATER_CHECK     1003
#define IDC_CW_CHECK           1004
#define IDC_SPEED_SLIDER       1005
#define IDC_TAB_CONTROL        1006
#define IDC_TX_TEXT_EDIT       1007
#define IDC_TX_ENCODE          1008
#define IDC_TX_PLAY            1009
#define IDC_TX_SAVE            1010
#define IDC_IMGENC_ENCODE      1021
#define IDC_IMGENC_PLAY        1022
#define IDC_IMGENC_SAVE        1023
#define IDC_RX_LISTEN          1024
#define IDC_RX_DECODE_FILE     1025
#define IDC_RX_CLEAR           1026
#define IDC_RX_THRESHOLD       1027
#define IDC_IMGDEC_LISTEN      1028
#define IDC_IMGDEC_DECODE_FILE 1029
#define IDC_IMGDEC_CLEAR       1030
#define IDC_IMGDEC_THRESHOLD   1031
#define IDC_HEX_OPEN           1032
#define IDC_HEX_PLAY           1033
#define IDC_HEX_SAVE_AUDIO     1034
#define IDC_HEX_LISTEN         1035
#define IDC_HEX_DECODE_FILE    1036
#define IDC_HEX_CLEAR          1037
#define IDC_HEX_SAVE_HEX       1038
#define IDC_HEX_THRESHOLD      1039
#define IDC_SERVER_DIR_EDIT    1040
#define IDC_SERVER_MSG_EDIT    1041
#define IDC_SERVER_SEND        1042
#define IDC_SERVER_STOP        1043
#define IDC_SERVER_CLEAR       1044
#define IDC_SERVER_THRESHOLD   1045

/* Readouts and status lines act on nothing, but tests and tools find them
 * by these (each unique on its page). */
#define IDC_TX_STATUS        1100
#define IDC_SPEED_LABEL      1101
#define IDC_TX_DIGITS        1102
#define IDC_IMGENC_DIGITS    1103
#define IDC_RX_STATUS        1104
#define IDC_RX_DIGITS        1105
#define IDC_RX_TEXT          1106
#define IDC_IMGDEC_STATUS    1107
#define IDC_IMGDEC_DIGITS    1108
#define IDC_HEX_FILE         1109
#define IDC_HEX_TX_DIGITS    1110
#define IDC_HEX_STATUS       1111
#define IDC_HEX_RX_DIGITS    1112
#define IDC_HEX_TEXT         1113
#define IDC_SERVER_PREVIEW   1114
#define IDC_SERVER_STATUS    1115
#define IDC_SERVER_RX_DIGITS 1116
#define IDC_SERVER_RESPONSE  1117

#define IDI_APPICON 6000

#define TX_TIMER_ID 5000

#endif
