#pragma once

// The string table, by resource id. Texts are UTF-8 for the screen; the history itself stays
// Shift-JIS and never passes through here.
namespace res {

// Messages of the system.
constexpr unsigned IDS_OLE_INIT_FAILED = 100;
constexpr unsigned IDS_NO_COM_PORT = 102;
constexpr unsigned IDS_PORT_OPEN_FAILED = 103;
constexpr unsigned IDS_RECEIVE_TIMEOUT = 104;
constexpr unsigned IDS_RECEIVE_FINISHED = 105;
constexpr unsigned IDS_INSTANCE_NAME = 106;
constexpr unsigned IDS_NO_PORT_CHOSEN = 107;
constexpr unsigned IDS_PORT_PERMISSION_DENIED = 108;
constexpr unsigned IDS_NOT_A_FILE = 109;
constexpr unsigned IDS_CONNECTION_LOST = 110;
constexpr unsigned IDS_PORT_NOT_CONNECTED = 111;
constexpr unsigned IDS_RECOVER_HISTORY = 112;
constexpr unsigned IDS_ABOUT_VERSION = 130;
constexpr unsigned IDS_ABOUT_NOTICE = 131;
constexpr unsigned IDS_ABOUT_TITLE = 132;
constexpr unsigned IDR_MAINFRAME = 128; // the document template's string

// The framework's strings.
constexpr unsigned AFX_IDS_APP_TITLE = 57344;
constexpr unsigned AFX_IDS_IDLEMESSAGE = 57345;
constexpr unsigned AFX_IDS_OPENFILE = 0xF000;
constexpr unsigned AFX_IDS_SAVEFILE = 0xF001;
constexpr unsigned AFX_IDS_ALLFILTER = 0xF002;
constexpr unsigned AFX_IDS_UNTITLED = 0xF003;
constexpr unsigned AFX_IDP_INVALID_FILENAME = 0xF100;
constexpr unsigned AFX_IDP_FAILED_TO_OPEN_DOC = 0xF101;
constexpr unsigned AFX_IDP_FAILED_TO_SAVE_DOC = 0xF102;
constexpr unsigned AFX_IDP_ASK_TO_SAVE = 0xF103; // %1: the document's file name or title
constexpr unsigned AFX_IDP_FAILED_TO_CREATE_DOC = 0xF104;
constexpr unsigned AFX_IDP_FILE_NOT_FOUND = 0xF1A2;     // %1: the file
constexpr unsigned AFX_IDP_FILE_ACCESS_DENIED = 0xF1A5; // %1: the file
constexpr unsigned AFX_IDP_FILE_DISKFULL = 0xF1AC;      // %1: the file

// Command ids; the string with the same id is the command's prompt ("status text\ntooltip").
constexpr unsigned ID_PORT_SETTINGS = 32771;
constexpr unsigned ID_RECEIVE_START = 32779;
constexpr unsigned ID_RECEIVE_STOP = 32780;
constexpr unsigned ID_FILE_NEW = 57600;
constexpr unsigned ID_FILE_OPEN = 57601;
constexpr unsigned ID_FILE_SAVE = 57603;
constexpr unsigned ID_FILE_SAVE_AS = 57604;
constexpr unsigned ID_FILE_PRINT_SETUP = 57606;
constexpr unsigned ID_FILE_PRINT = 57607;
constexpr unsigned ID_FILE_PRINT_DIRECT = 57608;
constexpr unsigned ID_FILE_PRINT_PREVIEW = 57609;
constexpr unsigned ID_APP_ABOUT = 57664;
constexpr unsigned ID_APP_EXIT = 57665;

// Returns the text of a string resource, or an empty string for an unknown id.
const char* LoadString(unsigned id);

} // namespace res
