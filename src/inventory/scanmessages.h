// Private window messages of the main window and of the test dialogs.
#ifndef SCANMESSAGES_H
#define SCANMESSAGES_H

// One target has been scanned (lParam: the request block), or, with lParam
// 0 once the scan has ended, the scan is over.
#define WM_SCAN_RESULT 1034
// Posted by the diagnostic and performance test dialogs to themselves.
#define WM_RUN_DIAGNOSTICS 1035
#define WM_RUN_PERFORMANCE 1036
// The scan is over: the main window completes its views.
#define WM_SCAN_COMPLETE 1037
// Begin the scan at the first adapter.
#define WM_SCAN_START 1038

#endif
