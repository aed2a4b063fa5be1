; The Windows installer of the KQ517 test tool, made by scripts/build-windows.sh:
;   makensis -DVERSION=a.b.c.d -DFILES=files.nsh -DUNINSTALL_FILES=files.nsh.un
;            -DOUTFILE=kq517-a.b.c.d-setup.exe kq517.nsi
; FILES installs the package folder file by file; UNINSTALL_FILES removes those same
; files and folders, so that the uninstaller takes nothing else from the folder. It
; installs to Program Files\KQ517 for all users, with a Start-menu entry for the window,
; and registers its uninstaller with Windows. The user's settings (the window's, in
; %APPDATA%\KQ517) stay when it is uninstalled.
; A 64-bit installer, as the programs are (and a 64-bit Wine runs it).
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"

!define PRODUCT "KQ517 test tool"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KQ517"
!define SHORTCUT "$SMPROGRAMS\KQ517\Test_KQ517T.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KQ517"
RequestExecutionLevel admin
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"

!define MUI_ICON "kq517.ico"
!define MUI_UNICON "kq517.ico"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "English"

!macro KQ_UNINSTALL_FILE file
  Delete "$INSTDIR\${file}"
!macroend
!macro KQ_UNINSTALL_FOLDER folder
  RMDir "$INSTDIR\${folder}"
!macroend

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The window reads its map files from the folder it starts in.
  CreateDirectory "$SMPROGRAMS\KQ517"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\Test_KQ517T.exe" "" "$INSTDIR\Test_KQ517T.exe" 0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Test_KQ517T.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !include "${UNINSTALL_FILES}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  RMDir "$SMPROGRAMS\KQ517"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
