; The Windows setup program of Vellum: a per-user install that needs no
; administrator rights. Vellum writes beside itself ("cookie",
; "authenticate" and, unless told otherwise, its recordings), so it is
; installed where the user can write: the local application-data programs
; folder, never Program Files. The uninstaller removes exactly the files the
; setup put there, and the cookie and password files when they hold nothing,
; and leaves everything else (recordings above all) alone.
;
; makensis -DBIN=<folder with the built files> -DOUT=<setup file> vellum.nsi

Unicode true
; A 64-bit setup for a 64-bit program (and a Wine without its 32-bit half).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"

!ifndef BIN
  !error "BIN (the folder of the built files) is not defined"
!endif
!ifndef OUT
  !define OUT "vellum-1.31b-setup.exe"
!endif

!define PRODUCT "Vellum"
!define VERSION "1.31b"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellum"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Vellum"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\vellum.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; The files of the program, listed once for installing and once for removing.
!macro ProgramFiles action
  !insertmacro ${action} "vellum.exe"
  !insertmacro ${action} "tessel.dll"
  !insertmacro ${action} "vellumie.exe"
  !insertmacro ${action} "ReserveAutoGet.htm"
  !insertmacro ${action} "ReserveAutoGetParent.htm"
  !insertmacro ${action} "Velm131.chm"
!macroend
!macro InstallFile name
  File "${BIN}\${name}"
!macroend
!macro RemoveFile name
  Delete "$INSTDIR\${name}"
!macroend

Section "Vellum"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !insertmacro ProgramFiles InstallFile
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Vellum"
  CreateShortcut "$SMPROGRAMS\Vellum\Vellum.lnk" "$INSTDIR\vellum.exe"
  CreateShortcut "$SMPROGRAMS\Vellum\Vellum マニュアル.lnk" "$INSTDIR\Velm131.chm"
  CreateShortcut "$SMPROGRAMS\Vellum\ブラウザの右クリックメニュー.lnk" "$INSTDIR\vellumie.exe"
  CreateShortcut "$SMPROGRAMS\Vellum\Vellum のアンインストール.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vellum.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Deletes the file $R0 when it is empty: Vellum writes "cookie" and
; "authenticate" at every close, also with nothing in them, and an empty one
; keeps nothing of the user's.
Function un.RemoveIfEmpty
  ClearErrors
  FileOpen $0 $R0 r
  ${IfNot} ${Errors}
    FileSeek $0 0 END $1
    FileClose $0
    ${If} $1 == 0
      Delete $R0
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  !insertmacro ProgramFiles RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Vellum\Vellum.lnk"
  Delete "$SMPROGRAMS\Vellum\Vellum マニュアル.lnk"
  Delete "$SMPROGRAMS\Vellum\ブラウザの右クリックメニュー.lnk"
  Delete "$SMPROGRAMS\Vellum\Vellum のアンインストール.lnk"
  RMDir "$SMPROGRAMS\Vellum"
  StrCpy $R0 "$INSTDIR\cookie"
  Call un.RemoveIfEmpty
  StrCpy $R0 "$INSTDIR\authenticate"
  Call un.RemoveIfEmpty
  ; Not /r: the folder goes only when nothing of the user's is left in it
  ; (recordings, and the cookie and password files that hold anything, stay).
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
