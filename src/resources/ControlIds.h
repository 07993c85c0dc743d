// The GUI's numbered resources: dialogs, menu and icon, menu commands and
// controls. Only the window, its pages and the string table need them; the
// core includes Resource.h alone. Tooltip texts and menu prompts share their
// control's or command's id.
#pragma once

// dialogs, menu, icon
constexpr unsigned IDD_ABOUTBOX = 100;
constexpr unsigned IDR_MAINFRAME = 128;   // application icon
constexpr unsigned IDD_COMM_PORT = 129;   // "Comm Port" page
constexpr unsigned IDD_CONSOLE = 131;     // "Console" page
constexpr unsigned IDD_LOCATION = 132;    // "Location" page
constexpr unsigned IDD_CLOCK_SETUP = 133; // "Clock Setup" page
constexpr unsigned IDR_MENU = 136;
constexpr unsigned IDD_COUNTDOWN = 138;

// menu commands (each also has a prompt string with the same id)
constexpr unsigned ID_FILE_EXIT = 32775;
constexpr unsigned ID_HELP_CONTENTS = 32776;
constexpr unsigned ID_HELP_SEARCH = 32777;
constexpr unsigned ID_FILE_LOAD_COMM = 32778;
constexpr unsigned ID_FILE_LOAD_FILE = 32779;
constexpr unsigned ID_FILE_SAVE_COMM = 32780;
constexpr unsigned ID_FILE_SAVE_FILE = 32781;
constexpr unsigned ID_HELP_ABOUT = 32782;
constexpr unsigned ID_HELP_WEB = 32783;
constexpr unsigned ID_FILE_DUMP = 32784;
constexpr unsigned ID_FILE_COMPARE = 58620;
// framework help commands routed by the application; no item carries them
constexpr unsigned ID_CONTEXT_HELP = 57669;
constexpr unsigned ID_HELP = 57670;

// standard sheet buttons the main window hides
constexpr unsigned IDC_SHEET_OK = 1;
constexpr unsigned IDC_SHEET_CANCEL = 2;
constexpr unsigned IDC_SHEET_HELP = 9;
constexpr unsigned IDC_SHEET_APPLY = 12321;

// status line
constexpr unsigned IDC_STATUS_BAR = 102;

// Comm Port page
constexpr unsigned IDC_COMM_PORT = 1001;
constexpr unsigned IDC_BAUD = 1002;
constexpr unsigned IDC_MODEL = 1003;
constexpr unsigned IDC_DATA_BITS = 1009;
constexpr unsigned IDC_PARITY = 1010;
constexpr unsigned IDC_STOP_BITS = 1011;
constexpr unsigned IDC_OPEN_PORT = 1020;
constexpr unsigned IDC_FIND_CLOCK = 58712;

// Location page
constexpr unsigned IDC_TIME_ZONE = 1016;
constexpr unsigned IDC_GMT = 1021;
constexpr unsigned IDC_LOCAL_TIME = 1022;
constexpr unsigned IDC_LOCAL_OFFSET = 1023;
constexpr unsigned IDC_CLOCK_TO_PC = 1024;
constexpr unsigned IDC_PC_TO_CLOCK = 1030;
constexpr unsigned IDC_APPLY_OFFSET = 1037;
// its watch of the clock's time
constexpr unsigned IDC_WATCH = 1040;
constexpr unsigned IDC_WATCH_TIME = 1041;
constexpr unsigned IDC_WATCH_OFFSET = 1042;
constexpr unsigned IDC_WATCH_PLOT = 1043;
constexpr unsigned IDC_WATCH_NOTE = 1044;

// Console page
constexpr unsigned IDC_CONSOLE_INPUT = 1018;
constexpr unsigned IDC_CONSOLE_OUTPUT = 1019;

// Clock Setup page
constexpr unsigned IDC_SETUP_TREE = 1026;
constexpr unsigned IDC_SETUP_VALUE = 1027;
constexpr unsigned IDC_SETUP_CHOICE = 1029;
constexpr unsigned IDC_SETUP_APPLY = 5001;

// countdown dialog and About box
constexpr unsigned IDC_COUNTDOWN_PROGRESS = 1033;
constexpr unsigned IDC_COUNTDOWN_TEXT = 1034;
constexpr unsigned IDC_VERSION = 1035;
