; Quorvex Setup: installs the program and its two help files, records them
; where the program looks for them at start-up, adds a Start menu folder and
; registers an uninstaller that takes all of it away again.
;
;   makensis -DPROGRAM=quorvex.exe -DHELPDIR=folder -DOUTFILE=QuorvexSetup.exe quorvex.nsi
;
; /S installs (and, given to the uninstaller, removes) without questions.
; Setup installs no ASPI layer and no SCSI driver: those come from the host
; adapter's maker.

Unicode false
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Quorvex Diagnostics"
!define COMPANY "Veltrane Corporation"
!define VERSION "1.00"
; The key and value the program reads at start-up: its App Paths entry and
; the help folder in "HelpPath", without a trailing backslash.
!define APP_PATH_KEY "Software\Microsoft\Windows\CurrentVersion\App Paths\${PRODUCT}.EXE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; Window position and view mode, written by the program itself.
!define SETTINGS_KEY "Software\Veltrane\${PRODUCT}"
!define MAKER_KEY "Software\Veltrane"

Name "${PRODUCT}"
Caption "Quorvex Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "1.0.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileDescription" "Quorvex Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 1997 ${COMPANY}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quorvex Diagnostics"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${PROGRAM}"
  File "${HELPDIR}\KDX.hlp"
  File "${HELPDIR}\KDXCH.hlp"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${APP_PATH_KEY}" "" "$INSTDIR\quorvex.exe"
  WriteRegStr HKLM "${APP_PATH_KEY}" "Path" "$INSTDIR"
  WriteRegStr HKLM "${APP_PATH_KEY}" "HelpPath" "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvex.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\quorvex.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Help.lnk" "$INSTDIR\KDX.hlp"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Help.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Delete "$INSTDIR\quorvex.exe"
  Delete "$INSTDIR\KDX.hlp"
  Delete "$INSTDIR\KDXCH.hlp"
  ; WinHelp 4 keeps its index files beside the help files it opens.
  Delete "$INSTDIR\KDX.GID"
  Delete "$INSTDIR\KDXCH.GID"
  ; This runs from a copy of the uninstaller, started by the original just
  ; before it ends: give the original a few seconds to let go of its file.
  StrCpy $0 0
  uninstaller_retry:
    Delete "$INSTDIR\Uninstall.exe"
    IfFileExists "$INSTDIR\Uninstall.exe" 0 uninstaller_gone
    IntOp $0 $0 + 1
    IntCmp $0 20 uninstaller_gone
    Sleep 250
    Goto uninstaller_retry
  uninstaller_gone:
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${APP_PATH_KEY}"
  ; The uninstalling user's window settings; the maker's key only when
  ; nothing else of the maker's is left in it.
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${MAKER_KEY}"
  ; Last: its absence tells that the removal is complete.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
