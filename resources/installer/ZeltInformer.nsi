; The full setup: ZeltInformerSetup.exe installs the program for the user who
; runs it, without elevation: its files (program, sounds, help) into
; %LOCALAPPDATA%\Programs\Zelt Rarazovo or another folder the user picks, a
; Start-menu entry and an entry in "Programs and Features" for this user
; only. Nothing is installed, written or registered for other accounts and no
; access rights are changed: the folder is the user's own, so the program can
; keep data.dat beside itself and take its updates there.
;
; Switches: /S installs silently; /D=FOLDER (last, unquoted) picks the folder.
; A folder that is not empty and holds no earlier copy of the program (nor
; the data.dat an uninstall kept) is refused (exit code 2), so nobody's files
; are mixed with ours. A running earlier copy is ended first, then replaced.
; The uninstaller ends a running copy, removes what was installed and the
; program's registry values, and asks whether to keep data.dat; silent (/S)
; it keeps it, unless /KEEPDATA=0 says to remove it and the folder.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=0.4 -DVERSION_DOTS=0.4.0.0
;   -DPUBLISHER=... -DFILES=<files.nsh> -DICON=<ico> -DOUTFILE=<setup exe>
;   -DEXE=<program file> -DMUTEX=<single-instance mutex> -DDATA_FILE=<data file>
;   -DUNINSTALLER_COPY=<path> [-DSIGN=<signing command>] ZeltInformer.nsi
; files.nsh (made by the build) defines the macros InstallFiles and
; RemoveFiles for exactly the files the build installs. SIGN, when given,
; is run on the installer and the uninstaller (the file name follows it);
; the uninstaller as packed is also left at UNINSTALLER_COPY.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Zelt Rarazovo"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define APP_KEY "Software\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!ifdef SIGN
  !finalize '${SIGN} "%1"' = 0
  !uninstfinalize '${SIGN} --copy-to "${UNINSTALLER_COPY}" "%1"' = 0
!else
  !uninstfinalize 'cp "%1" "${UNINSTALLER_COPY}"' = 0
!endif

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
VIProductVersion "${VERSION_DOTS}"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileDescription" "${PRODUCT} ${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION_DOTS}"
VIAddVersionKey /LANG=1049 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The installer runs with the user's own rights, so the program it starts does too.
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

!include "${FILES}"

; Ends a running copy as other programs are meant to: ZELTI_HALT makes it
; close normally (it saves data.dat on the way out), then the single-instance
; mutex tells when it has gone. Gives up after 30 seconds.
!macro EndRunningCopy un
Function ${un}EndRunningCopy
  System::Call 'user32::RegisterWindowMessageW(w "ZELTI_HALT") i .r0'
  ; HWND_BROADCAST, SMTO_ABORTIFHUNG, one second per window
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i r0, p 0, p 0, i 2, i 1000, *p .r1)'
  StrCpy $2 0
  ${Do}
    ; SYNCHRONIZE
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MUTEX}") p .r3'
    ${If} $3 P= 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r3)'
    Sleep 100
    IntOp $2 $2 + 1
  ${LoopUntil} $2 >= 300
  MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} не закрывается. Закройте программу и повторите." /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro EndRunningCopy ""
!insertmacro EndRunningCopy "un."

; $0: 1 when $INSTDIR may take the program: it does not exist, is empty, or
; holds an earlier copy (which this install replaces), or the data.dat an
; uninstall kept (which this install takes up again).
Function FolderFits
  StrCpy $0 1
  IfFileExists "$INSTDIR\${EXE}" fits
  IfFileExists "$INSTDIR\${DATA_FILE}" fits
  FindFirst $1 $2 "$INSTDIR\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      StrCpy $0 0
      ${Break}
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
fits:
FunctionEnd

; The folder page's check: the user picks another folder.
Function CheckFolder
  Call FolderFits
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "Папка $INSTDIR не пуста. Выберите пустую папку или папку, в которой уже установлена программа ${PRODUCT}."
    Abort
  ${EndIf}
FunctionEnd

Section "Install"
  ; A silent install has no folder page: the same check ends it.
  Call FolderFits
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONSTOP "Папка $INSTDIR не пуста. Выберите пустую папку или папку, в которой уже установлена программа ${PRODUCT}." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ; In KiB, as "Programs and Features" shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Call un.EndRunningCopy
  !insertmacro RemoveFiles
  Delete "$INSTDIR\Uninstall.exe"
  ; data.dat holds the user's settings, read marks and favourites: kept
  ; unless the user says no, or /KEEPDATA=0 asks a silent uninstall to remove it.
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/KEEPDATA=" $1
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION \
      "Сохранить файл ${DATA_FILE} с настройками, отметками о прочтении и избранными темами?" \
      /SD IDYES IDYES keep
  ${ElseIf} $1 != "0"
    Goto keep
  ${EndIf}
  Delete "$INSTDIR\${DATA_FILE}"
  Delete "$INSTDIR\${DATA_FILE}.tmp"
keep:
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegValue HKCU "${APP_KEY}" "Path"
  DeleteRegKey /ifempty HKCU "${APP_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "ZeltInformerA"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
