; The installer of pwagent, made by scripts/package.sh with makensis. It expects these defines:
;   PW_VERSION (x.y.z), PW_VERSION_QUAD (x.y.z.0), PW_FILES (an include generated from files.txt
;   with the macros PW_INSTALL_FILES and PW_UNINSTALL_FILES, and the commands makensis runs on
;   the uninstaller before packing it: signing, a copy beside the installer) and PW_OUTFILE.
; With SOURCE_DATE_EPOCH set (scripts/package.sh sets it) the output is the same on every run.
; It installs into the folder the user chooses, which should be the mail client's: the agent
; reads the client's files from its own and the current folder. It adds no autostart (the
; mail client starts the agent) and registers an uninstaller that removes what it installed.
Unicode true
SetCompressor /SOLID lzma

!define PW_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\pwagent"
!define PW_UNINSTALLER "pwagent-uninstall.exe"

Name "pwagent ${PW_VERSION}"
OutFile "${PW_OUTFILE}"
; The client usually lies under Program Files, which only an administrator may write to, and
; the uninstall entry goes to HKLM so that every user of the machine sees it.
RequestExecutionLevel admin
; No client folder is known for sure: this default is offered, and the directory page asks for
; the folder that holds CXsystem.exe.
InstallDir "$PROGRAMFILES\CXsystem"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${PW_VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "pwagent"
VIAddVersionKey /LANG=1033 "CompanyName" "Vantiro"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright Vantiro"
VIAddVersionKey /LANG=1033 "FileDescription" "pwagent ${PW_VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${PW_VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${PW_VERSION}"

!include "MUI2.nsh"
!include "${PW_FILES}"

!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder of the mail client, the one that holds CXsystem.exe: pwagent reads the client's files from its own folder."
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckClientFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Only in the interactive installer (pages are skipped under /S): a folder without the client
; is allowed, but only when the user says so.
Function CheckClientFolder
    IfFileExists "$INSTDIR\CXsystem.exe" done
    MessageBox MB_YESNO|MB_ICONQUESTION "There is no CXsystem.exe in$\r$\n$INSTDIR.$\r$\n$\r$\npwagent must sit beside the mail client. Install here all the same?" IDYES done
    Abort
done:
FunctionEnd

Section "pwagent"
    SetShellVarContext all
    !insertmacro PW_INSTALL_FILES
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${PW_UNINSTALLER}"

    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "DisplayName" "pwagent ${PW_VERSION}"
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "DisplayVersion" "${PW_VERSION}"
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "Publisher" "Vantiro"
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\pwagent.exe$\""
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\${PW_UNINSTALLER}$\""
    WriteRegStr HKLM "${PW_UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\${PW_UNINSTALLER}$\" /S"
    WriteRegDWORD HKLM "${PW_UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${PW_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the listed files, the uninstaller and the folders only when nothing else is left in
; them: the client's own files stay where they are.
Section "Uninstall"
    SetShellVarContext all
    !insertmacro PW_UNINSTALL_FILES
    Delete "$INSTDIR\${PW_UNINSTALLER}"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${PW_UNINSTALL_KEY}"
SectionEnd
