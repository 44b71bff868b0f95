// Command and control ids of the driver's selftest window.
#pragma once

#define kSelftestAsk 200
#define kSelftestDialog 201
#define kSelftestFocus 202
#define kSelftestSheet 203
#define kSelftestSave 204
#define kSelftestPopupCommand 300
#define kSelftestDialogId 400
#define kSelftestCheck 401
#define kSelftestEdit 402
#define kSelftestGo 403
#define kSelftestResult 404
#define kSelftestPage1 410
#define kSelftestPage2 411
#define kSelftestPageText 412
