; The full setup: ZeltInformerSetup.exe installs the program, its sounds and
; its help into a folder the user picks, adds a Start-menu entry and an
; entry in "Programs and Features", and starts the program at the end when
; asked. /S installs silently. The uninstaller ends a running copy, removes
; what was installed and the program's registry values, and asks whether to
; keep data.dat (kept when silent).
;
; makensis -INPUTCHARSET UTF8 -DVERSION=0.4 -DSOURCE=<folder laid out as
;   installed> -DFILES=<files.nsh> -DOUTFILE=<setup exe> ZeltInformer.nsi
; files.nsh (made by the build) defines the macros InstallFiles and
; RemoveFiles for exactly the files the build installs.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Zelt Rarazovo"
!define EXE "ZeltInformer.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define APP_KEY "SOFTWARE\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
VIProductVersion "${VERSION_DOTS}"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileDescription" "${PRODUCT} ${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION_DOTS}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; Started by the shell, with the user's own rights rather than the
; installer's: a program started from here would run elevated.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION RunAsUser
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
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
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "ZeltInformerMutex") p .r3'
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

Function RunAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\${EXE}"'
FunctionEnd

Section "Install"
  SetShellVarContext all
  Call EndRunningCopy
  SetOutPath "$INSTDIR"
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The program keeps data.dat beside itself and fetches its updates there,
  ; running with the rights of whoever uses it: the folder's users may
  ; change it, or every save and every update would be refused.
  nsExec::Exec 'icacls "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M /T /Q'
  Pop $0

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.EndRunningCopy
  !insertmacro RemoveFiles
  Delete "$INSTDIR\Uninstall.exe"
  ; data.dat holds the user's settings, read marks and favourites.
  MessageBox MB_YESNO|MB_ICONQUESTION \
    "Сохранить файл data.dat с настройками, отметками о прочтении и избранными темами?" \
    /SD IDYES IDYES keep
  Delete "$INSTDIR\data.dat"
  Delete "$INSTDIR\data.dat.tmp"
keep:
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegValue HKLM "${APP_KEY}" "Path"
  DeleteRegKey /ifempty HKLM "${APP_KEY}"
  DeleteRegValue HKLM "${RUN_KEY}" "ZeltInformerA"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
