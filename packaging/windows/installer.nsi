; The Windows installer of qvxtool, built by scripts/windows/package.sh:
;   makensis -DVERSION=1.0.1 -DSOURCE=<deployed folder> -DOUTFILE=<setup.exe> -DICON=<qvxtool.ico> installer.nsi
;
; Installs for the current user without administrator rights, into
; %LOCALAPPDATA%\Programs\qvxtool; with /ALLUSERS (administrator) into
; Program Files for every user.  The marker qvxtool-installed.txt beside the
; program tells it that it is installed, so it keeps its settings and logs in
; %LOCALAPPDATA%\qvxtool (made at its first start) instead of its own folder;
; the marker also tells the uninstaller for whom it was installed.  The
; uninstaller keeps the user's data unless asked (a question, or /REMOVEDATA).
; /S installs and uninstalls silently.
; A 64-bit installer for a 64-bit program (and one Wine without its 32-bit half runs).
Target amd64-unicode
SetCompressor /SOLID lzma
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define APP qvxtool
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define MARKER "qvxtool-installed.txt"

Name "qvxtool ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
BrandingText "qvxtool ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "qvxtool"
VIAddVersionKey "FileDescription" "qvxtool installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "The qvxtool developers"
VIAddVersionKey "LegalCopyright" "The qvxtool developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\qvxtool.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start qvxtool"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "qvxtool needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONSTOP "Installing for all users needs administrator rights." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
    SetShellVarContext all
    StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
  ${EndIf}
FunctionEnd

Section "qvxtool"
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  ${If} $AllUsers == 1
    FileOpen $0 "$INSTDIR\${MARKER}" w
    FileWrite $0 "all users$\r$\n"
  ${Else}
    FileOpen $0 "$INSTDIR\${MARKER}" w
    FileWrite $0 "current user$\r$\n"
  ${EndIf}
  FileClose $0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\qvxtool"
  CreateShortcut "$SMPROGRAMS\qvxtool\qvxtool.lnk" "$INSTDIR\qvxtool.exe"
  CreateShortcut "$SMPROGRAMS\qvxtool\User manual.lnk" "$INSTDIR\UsrMan.pdf"
  CreateShortcut "$SMPROGRAMS\qvxtool\Uninstall qvxtool.lnk" "$INSTDIR\uninstall.exe"

  ; "Apps & features"
  ${If} $AllUsers == 1
    StrCpy $1 HKLM
  ${Else}
    StrCpy $1 HKCU
  ${EndIf}
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  ${If} $AllUsers == 1
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "qvxtool"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The qvxtool developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qvxtool.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $2
  ${Else}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "qvxtool"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The qvxtool developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qvxtool.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $2
  ${EndIf}
SectionEnd

Function un.onInit
  ; For whom it was installed: the marker's first line.
  FileOpen $0 "$INSTDIR\${MARKER}" r
  FileRead $0 $1
  FileClose $0
  StrCpy $AllUsers 0
  StrCmp $1 "all users$\r$\n" 0 +3
    StrCpy $AllUsers 1
    SetShellVarContext all
FunctionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\qvxtool\qvxtool.lnk"
  Delete "$SMPROGRAMS\qvxtool\User manual.lnk"
  Delete "$SMPROGRAMS\qvxtool\Uninstall qvxtool.lnk"
  RMDir "$SMPROGRAMS\qvxtool"
  ${If} $AllUsers == 1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
  ; The folder holds only what was installed: settings and logs are in the
  ; user's data folder.
  RMDir /r "$INSTDIR"

  ; The user's own data (settings file, logs) stays unless asked for.
  SetShellVarContext current
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    RMDir /r "$LOCALAPPDATA\${APP}"
  ${ElseIf} ${FileExists} "$LOCALAPPDATA\${APP}\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove your qvxtool settings and logs too ($LOCALAPPDATA\${APP})?" /SD IDNO IDNO keep
    RMDir /r "$LOCALAPPDATA\${APP}"
    keep:
  ${EndIf}
SectionEnd
