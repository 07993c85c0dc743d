// The string ids that code names. The GUI's dialog, menu and control ids are
// in ControlIds.h.
#pragma once

// strings
constexpr unsigned IDS_CAPTION = 102;
constexpr unsigned IDS_CONSOLE_STARTED = 141;
constexpr unsigned IDS_UNKNOWN_FILE_TYPE = 151;
constexpr unsigned IDS_UNKNOWN_FILE_REVISION = 152;
constexpr unsigned IDS_SETUP_MISMATCH = 153;
constexpr unsigned IDS_RANGE_ERROR = 222;
constexpr unsigned IDS_ERROR_OPENING_FILE = 226;
constexpr unsigned IDS_ERROR_SAVING_FILE = 227;
constexpr unsigned IDS_START_PROMPT = 228;

// line errors, in the order they are reported
constexpr unsigned IDS_BREAK_DETECTED = 40001;
constexpr unsigned IDS_FRAMING_ERROR = 40002;
constexpr unsigned IDS_IO_ERROR = 40003;
constexpr unsigned IDS_MODE_ERROR = 40004;
constexpr unsigned IDS_CHAR_OVERRUN = 40005;
constexpr unsigned IDS_INPUT_OVERRUN = 40006;
constexpr unsigned IDS_PARITY_ERROR = 40007;
constexpr unsigned IDS_OUTPUT_FULL = 40008;

// line setting choices, each run in id order, and its first, last and
// default
constexpr unsigned IDS_BAUD_1200 = 40009;
constexpr unsigned IDS_BAUD_2400 = 40010;
constexpr unsigned IDS_BAUD_4800 = 40011;
constexpr unsigned IDS_BAUD_9600 = 40012;
constexpr unsigned IDS_BAUD_19200 = 40013;
constexpr unsigned IDS_BAUD_38400 = 40014;
constexpr unsigned IDS_BAUD_115200 = 40015;
constexpr unsigned IDS_DATA_7 = 40016;
constexpr unsigned IDS_DATA_8 = 40017;
constexpr unsigned IDS_STOP_1 = 40018;
constexpr unsigned IDS_STOP_2 = 40019;
constexpr unsigned IDS_PARITY_NONE = 40020;
constexpr unsigned IDS_PARITY_ODD = 40021;
constexpr unsigned IDS_PARITY_EVEN = 40022;
constexpr unsigned IDS_FLOW_NONE = 40023;
constexpr unsigned IDS_FLOW_XON_XOFF = 40024;
constexpr unsigned IDS_FLOW_DATA_READY = 40025;   // only ever read back
constexpr unsigned IDS_BAUD_FIRST = IDS_BAUD_1200;
constexpr unsigned IDS_BAUD_LAST = IDS_BAUD_115200;
constexpr unsigned IDS_BAUD_DEFAULT = IDS_BAUD_9600;
constexpr unsigned IDS_DATA_FIRST = IDS_DATA_7;
constexpr unsigned IDS_DATA_LAST = IDS_DATA_8;
constexpr unsigned IDS_DATA_DEFAULT = IDS_DATA_8;
constexpr unsigned IDS_STOP_FIRST = IDS_STOP_1;
constexpr unsigned IDS_STOP_LAST = IDS_STOP_2;
constexpr unsigned IDS_STOP_DEFAULT = IDS_STOP_1;
constexpr unsigned IDS_PARITY_FIRST = IDS_PARITY_NONE;
constexpr unsigned IDS_PARITY_LAST = IDS_PARITY_EVEN;
constexpr unsigned IDS_PARITY_DEFAULT = IDS_PARITY_NONE;
constexpr unsigned IDS_FLOW_FIRST = IDS_FLOW_NONE;
constexpr unsigned IDS_FLOW_LAST = IDS_FLOW_XON_XOFF;
constexpr unsigned IDS_FLOW_DEFAULT = IDS_FLOW_NONE;

// port status codes -1 to 4
constexpr unsigned IDS_PORT_INVALID = 40026;
constexpr unsigned IDS_PORT_IDLE = 40027;
constexpr unsigned IDS_PORT_READ = 40028;
constexpr unsigned IDS_PORT_WROTE = 40029;
constexpr unsigned IDS_PORT_ERROR = 40030;
constexpr unsigned IDS_PORT_TIMEOUT = 40031;

// menu command results and other messages
constexpr unsigned IDS_WRITE_FAILED = 57680;
// tarvel's own texts (not in the original table) from 58000 on
constexpr unsigned IDS_WRITE_CANCELLED_UNVERIFIED = 58001;
constexpr unsigned IDS_WRITE_CANCELLED_UNSTORED = 58002;
constexpr unsigned IDS_WRITE_CANCELLED_NO_RESET = 58003;
constexpr unsigned IDS_STAGE_TAKING = 58004;
constexpr unsigned IDS_STAGE_BEFORE_STORE = 58005;
constexpr unsigned IDS_STAGE_BEFORE_RESET = 58006;
constexpr unsigned IDS_READING_FROM_CLOCK = 58007;
constexpr unsigned IDS_WRITING_TO_CLOCK = 58008;
// tarvelctl's texts, 58200 on
constexpr unsigned IDS_CTL_NOT_A_CHOICE = 58200;
constexpr unsigned IDS_CTL_TIME_REFUSED = 58201;
constexpr unsigned IDS_CTL_READ_NEEDS_OUTPUT = 58202;
constexpr unsigned IDS_CTL_DEVICE_GONE = 58203;
constexpr unsigned IDS_CTL_FILE_REASON = 58204;
constexpr unsigned IDS_READ_FAILED = 57681;
constexpr unsigned IDS_COUNTDOWN = 57682;
constexpr unsigned IDS_SENT_TO_CLOCK = 57683;
constexpr unsigned IDS_GOT_FROM_CLOCK = 57684;
constexpr unsigned IDS_READ_FILE_OK = 57685;
constexpr unsigned IDS_SAVED_FILE_OK = 57686;
constexpr unsigned IDS_UNEXPECTED_VALUE = 57687;
constexpr unsigned IDS_VERSION = 57688;

// the window's own texts (58100 on): the port's state line, the Location
// page's and the dump's results, the device gone, the manual
constexpr unsigned IDS_PORT_STATE_OPEN = 58100;
constexpr unsigned IDS_PORT_STATE_CLOSED = 58101;
constexpr unsigned IDS_PORT_STATE_FAILED = 58102;
constexpr unsigned IDS_PORT_DEVICE_GONE = 58103;
constexpr unsigned IDS_SETTING_CLOCK_TIME = 58104;
constexpr unsigned IDS_CLOCK_TIME_SET = 58105;
constexpr unsigned IDS_CLOCK_REFUSED_TIME = 58106;
constexpr unsigned IDS_CLOCK_DID_NOT_TAKE_TIME = 58107;
constexpr unsigned IDS_ASKING_CLOCK_TIME = 58108;
constexpr unsigned IDS_PC_TIME_SET = 58109;
constexpr unsigned IDS_CLOCK_REFUSED_TIME_REQUEST = 58110;
constexpr unsigned IDS_CLOCK_NO_TIME_ECHO = 58111;
constexpr unsigned IDS_CLOCK_TIME_UNREADABLE = 58112;
constexpr unsigned IDS_DUMPED_FILE_OK = 58113;
constexpr unsigned IDS_MANUAL_NO_VIEWER = 58114;
constexpr unsigned IDS_MANUAL_MISSING = 58115;
constexpr unsigned IDS_PORT_STATE_GONE = 58116;
constexpr unsigned IDS_PORT_STATE_LOST = 58117;
constexpr unsigned IDS_MANUAL_OPEN_BROWSER = 58118;
constexpr unsigned IDS_MANUAL_NOT_INSTALLED = 58119;
// the Location page's watch of the clock's time (58140-58149)
constexpr unsigned IDS_WATCH = 58140;
constexpr unsigned IDS_WATCH_CLOCK_TIME = 58141;
constexpr unsigned IDS_WATCH_OFFSET = 58142;
constexpr unsigned IDS_WATCH_OFFSET_VALUE = 58143;
constexpr unsigned IDS_WATCH_TIME_FORMAT = 58144;
constexpr unsigned IDS_WATCH_POLL_FAILED = 58145;
constexpr unsigned IDS_WATCH_AXIS_OFFSET = 58146;
constexpr unsigned IDS_WATCH_AXIS_TIME = 58147;

// safe files and profile settings (58300-58399)
constexpr unsigned IDS_FILE_NOT_REGULAR = 58300;
constexpr unsigned IDS_FILE_LINK_REFUSED = 58301;
constexpr unsigned IDS_FILE_BUSY = 58302;
constexpr unsigned IDS_PROFILE_DELAY_CLAMPED = 58303;
constexpr unsigned IDS_PROFILE_SETTING_REFUSED = 58304;

// the port list (58400-58449): absent ports, descriptions, tarvelctl ports
constexpr unsigned IDS_PORT_ABSENT = 58400;
constexpr unsigned IDS_PORT_WITH_SERIAL = 58401;
constexpr unsigned IDS_PORT_PLAIN = 58402;
constexpr unsigned IDS_PORT_RFCOMM = 58403;
constexpr unsigned IDS_PORT_STABLE_TIP = 58404;
// who holds a busy port, and what to do about programs that take serial
// devices (58450-58499)
constexpr unsigned IDS_PORT_IN_USE = 58450;
constexpr unsigned IDS_PORT_IN_USE_BY = 58451;
constexpr unsigned IDS_PORT_HOLDER = 58452;
constexpr unsigned IDS_PORT_HOLDER_MODEMMANAGER = 58453;
constexpr unsigned IDS_PORT_HOLDER_BRLTTY = 58454;
constexpr unsigned IDS_PORT_TAKEN_BY_BRLTTY = 58455;
// network serial ports (58500-58549)
constexpr unsigned IDS_NET_RAW_NOTICE = 58500;
constexpr unsigned IDS_NET_NO_COM_PORT = 58501;
constexpr unsigned IDS_NET_HINT_REFUSED = 58502;
constexpr unsigned IDS_NET_HINT_UNKNOWN_HOST = 58503;
constexpr unsigned IDS_NET_HINT_NO_NAME_SERVER = 58504;
constexpr unsigned IDS_NET_HINT_UNREACHABLE = 58505;
constexpr unsigned IDS_NET_HINT_CLOSED = 58506;
constexpr unsigned IDS_NET_HINT_NOT_RFC2217 = 58507;
constexpr unsigned IDS_NET_HINT_BAD_NAME = 58508;
constexpr unsigned IDS_NET_HINT_BUSY = 58509;
constexpr unsigned IDS_NET_CONNECTION_LOST = 58510;
constexpr unsigned IDS_NET_TURNED_AWAY = 58511;
constexpr unsigned IDS_NET_TURNED_AWAY_SILENT = 58512;

// why an exchange with the clock failed (58800-58849)
constexpr unsigned IDS_WHY_PORT = 58800;
constexpr unsigned IDS_WHY_NO_COMMAND = 58801;
constexpr unsigned IDS_WHY_NO_ECHO = 58802;
constexpr unsigned IDS_WHY_WRONG_ECHO = 58803;
constexpr unsigned IDS_WHY_REFUSED = 58804;
constexpr unsigned IDS_WHY_SHORT_ANSWER = 58805;
constexpr unsigned IDS_WHY_BAD_HEADER = 58806;
constexpr unsigned IDS_WHY_BAD_RECORD = 58807;
constexpr unsigned IDS_WHY_BAD_CHECKSUM = 58808;
constexpr unsigned IDS_WHY_MISMATCH = 58809;
constexpr unsigned IDS_WHY_NO_REPLY = 58810;
constexpr unsigned IDS_WHY_LONG_ANSWER = 58811;
constexpr unsigned IDS_WHY_SENT_AGAIN = 58812;
constexpr unsigned IDS_WHY_MAY_HOLD_NEW = 58813;
constexpr unsigned IDS_WHY_STORED_NOT_RESET = 58814;
constexpr unsigned IDS_WHY_PORT_UNKNOWN = 58815;
constexpr unsigned IDS_WHY_NO_RECORDS = 58816;
constexpr unsigned IDS_WHY_NOT_A_TIME = 58817;

// clocks over the network from tarvelctl (58550-58599)
constexpr unsigned IDS_CTL_CONNECTION_GONE = 58550;

// setup comparison and the setup text form (58600-58649)
constexpr unsigned IDS_TEXT_VALUE_REFUSED = 58600;
constexpr unsigned IDS_TEXT_RAW_DOES_NOT_FIT = 58601;
constexpr unsigned IDS_TEXT_NOT_A_LINE = 58602;
constexpr unsigned IDS_TEXT_UNKNOWN_ITEM = 58603;
constexpr unsigned IDS_TEXT_GIVEN_TWICE = 58604;
constexpr unsigned IDS_TEXT_BITS_HELD = 58605;
constexpr unsigned IDS_TEXT_ITEM_MISSING = 58606;
constexpr unsigned IDS_TEXT_TOO_LARGE = 58607;
constexpr unsigned IDS_TEXT_OTHER_ITEMS = 58608;
constexpr unsigned IDS_TEXT_OTHER_BITS = 58609;
constexpr unsigned IDS_TEXT_CHOICES = 58610;
constexpr unsigned IDS_TEXT_RANGE = 58611;
constexpr unsigned IDS_TEXT_ITEM_N = 58612;
constexpr unsigned IDS_TEXT_NO_VALUE = 58613;
constexpr unsigned IDS_COMPARE_CAPTION = 58621;
constexpr unsigned IDS_COMPARE_ITEM = 58622;
constexpr unsigned IDS_COMPARE_LABEL = 58623;
constexpr unsigned IDS_COMPARE_SHOWN = 58624;
constexpr unsigned IDS_COMPARE_FILE = 58625;
constexpr unsigned IDS_COMPARE_SAME = 58626;
constexpr unsigned IDS_COMPARE_COUNT = 58627;
constexpr unsigned IDS_SETUP_ITEM_CHANGED = 58628;
constexpr unsigned IDS_COMPARE_COUNT_ONE = 58629;
// backups before writing and the line trace (58650-58699)
constexpr unsigned IDS_TRACE_CUT = 58650;
constexpr unsigned IDS_SENT_WITH_BACKUP = 58651;
constexpr unsigned IDS_CLOCK_HOLDS_SETUP = 58652;
constexpr unsigned IDS_BACKUP_READ_FAILED = 58653;
constexpr unsigned IDS_BACKUP_SAVE_FAILED = 58654;
constexpr unsigned IDS_READING_FOR_BACKUP = 58655;
constexpr unsigned IDS_BACKUP_NO_FOLDER = 58656;
constexpr unsigned IDS_BACKUP_FOLDER_NOT_OURS = 58657;
constexpr unsigned IDS_TRACE_OPEN_FAILED = 58658;
constexpr unsigned IDS_BACKUP_KEPT = 58659;
constexpr unsigned IDS_BACKUPS_UNREADABLE = 58660;
constexpr unsigned IDS_RESTORE_SKIPPED = 58661;
constexpr unsigned IDS_RESTORE_NOTHING = 58662;
// finding the clock, command-line conventions (58700-58749)
constexpr unsigned IDS_FIND_CLOCK = 58700;
constexpr unsigned IDS_FIND_CLOCK_PROGRESS = 58701;
constexpr unsigned IDS_FIND_CLOCK_FOUND = 58702;
constexpr unsigned IDS_FIND_CLOCK_FOUND_MODEL = 58703;
constexpr unsigned IDS_FIND_CLOCK_NONE = 58704;
constexpr unsigned IDS_FIND_CLOCK_CANCEL = 58705;
constexpr unsigned IDS_FIND_CLOCK_TITLE = 58706;
constexpr unsigned IDS_CTL_PROBE_NONE = 58707;
constexpr unsigned IDS_CTL_PROBE_NO_PORTS = 58708;
constexpr unsigned IDS_CTL_UNKNOWN_COMMAND = 58709;
constexpr unsigned IDS_CTL_DID_YOU_MEAN = 58710;
constexpr unsigned IDS_CTL_ONE_PORT_ONLY = 58711;
// tarvelctl's ports, trace and write steps
constexpr unsigned IDS_CTL_PORT_TWICE = 58730;
constexpr unsigned IDS_CTL_SAME_DEVICE = 58731;
constexpr unsigned IDS_CTL_TRACE_IS_USED = 58732;
constexpr unsigned IDS_CTL_STAGE_SENDING = 58733;
constexpr unsigned IDS_CTL_STAGE_VERIFYING = 58734;
constexpr unsigned IDS_CTL_STAGE_STORING = 58735;
constexpr unsigned IDS_CTL_STAGE_RESETTING = 58736;
constexpr unsigned IDS_CTL_WRITE_DONE = 58737;
constexpr unsigned IDS_WRITE_CANCELLED_NOTHING_SENT = 58738;
constexpr unsigned IDS_CTL_STOPPED_BY = 58739;
// tarvelctl check (58870-58879)
constexpr unsigned IDS_CTL_CHECK_HELD = 58870;
constexpr unsigned IDS_CTL_CHECK_HELD_BY = 58871;
constexpr unsigned IDS_CTL_CHECK_SILENT = 58872;
constexpr unsigned IDS_CTL_CHECK_SETUP_DIFFERS = 58873;
constexpr unsigned IDS_CTL_CHECK_SETUP_UNUSABLE = 58874;
// tarvelctl time watch (58880-58889)
constexpr unsigned IDS_CTL_TIME_WATCH_LINE = 58880;
constexpr unsigned IDS_CTL_TIME_WATCH_STOPPED = 58881;
// tarvelctl metrics (58890-58899)
constexpr unsigned IDS_CTL_METRICS_LINE_FIELDS = 58890;
constexpr unsigned IDS_CTL_METRICS_PORT_AGAIN = 58891;
constexpr unsigned IDS_CTL_METRICS_SETUP_UNUSABLE = 58892;
constexpr unsigned IDS_CTL_METRICS_NO_CLOCKS = 58893;
constexpr unsigned IDS_CTL_METRICS_SETUP_COUNT = 58894;
constexpr unsigned IDS_CTL_METRICS_SAME_CLOCK = 58895;
// the manual built into the program (58750-58799)
constexpr unsigned IDS_MANUAL_WINDOW_TITLE = 58750;
// names of the pages' controls: a screen reader's for those without a label,
// the labels of the setup item editors (58850-58869)
constexpr unsigned IDS_NAME_SETUP_TREE = 58850;
constexpr unsigned IDS_NAME_SETUP_VALUE = 58851;
constexpr unsigned IDS_NAME_SETUP_CHOICE = 58852;
constexpr unsigned IDS_NAME_CONSOLE_OUTPUT = 58853;
constexpr unsigned IDS_NAME_CONSOLE_INPUT = 58854;
constexpr unsigned IDS_NAME_WATCH_PLOT = 58855;
// the Location page's watch: old values, stopped (58148-58149)
constexpr unsigned IDS_WATCH_AS_OF = 58148;
constexpr unsigned IDS_WATCH_STOPPED = 58149;
// the Console page's input: what to type there, shown while it is empty (58856)
constexpr unsigned IDS_HINT_CONSOLE_INPUT = 58856;
