; The Windows installer: for the current user, without administrator rights.
; makensis -INPUTCHARSET UTF8 -DARCH=x64|x86 -DVERSION=1.0.0 -DPROGRAM=… -DSAMPLE=… -DICON=…
;   -DOUTFILE=… installer.nsi   (scripts/win-packages.sh passes these.)
; Silent: setup.exe /S [/ARCHIVER=C:\path\to\archiver.exe] [/D=C:\install\folder]
; Without /ARCHIVER= the settings name the sample archiver installed beside the program.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH must be x64 or x86"
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all

!define PRODUCT "DoredAviro"
!define PROGRAM_NAME "Zivev+Korvu"
!define EXE "${PROGRAM_NAME}.exe"
!define INI "${PROGRAM_NAME}.ini"
!define SAMPLE_EXE "korvu-sample.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; What this installer wrote into the settings file, kept in the uninstall entry so that the
; uninstaller can tell a settings file left as written from one the user edited.
!define WRITTEN_VALUE "DoredAviroSettingsPath"

Name "${PRODUCT} ${PROGRAM_NAME}"
Caption "${PRODUCT} ${PROGRAM_NAME} ${VERSION} セットアップ"
UninstallCaption "${PRODUCT} ${PROGRAM_NAME} ${VERSION} アンインストール"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
Icon "${ICON}"
UninstallIcon "${ICON}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include nsDialogs.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom ArchiverPage ArchiverPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Japanese"

; The version record of the installer, and of the uninstaller it writes.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "${PRODUCT} ${PROGRAM_NAME} セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "© ${PRODUCT}"

Var Archiver
Var ArchiverField
; 1 while the archiver is the sample one, whose path follows the install folder.
Var SampleArchiver

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ARCHIVER=" $Archiver
  ${If} ${Errors}
    StrCpy $Archiver ""
    StrCpy $SampleArchiver 1
  ${EndIf}
FunctionEnd

; The archiver's path, on a page of its own. A reinstall keeps the settings file there is, so
; the page is not shown then.
Function ArchiverPage
  ${If} ${FileExists} "$INSTDIR\${INI}"
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "+Korvuの指定" \
    "ファイルやフォルダを渡す圧縮/解凍プログラム（+Korvu）を選んで下さい。"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u \
    "${PROGRAM_NAME}は、リストの項目ごとにこのプログラムを起動します。$\r$\n後で変更するときは、インストール先の${INI}の「Path=」を書き換えて下さい。$\r$\n空のままにすると、${PROGRAM_NAME}の起動時にその旨が表示されます。"
  Pop $0
  ${If} $SampleArchiver = 1
    StrCpy $Archiver "$INSTDIR\${SAMPLE_EXE}"
  ${EndIf}
  ${NSD_CreateText} 0 44u 78% 13u "$Archiver"
  Pop $ArchiverField
  ${NSD_CreateBrowseButton} 80% 43u 20% 15u "参照..."
  Pop $0
  ${NSD_OnClick} $0 BrowseArchiver
  nsDialogs::Show
FunctionEnd

Function BrowseArchiver
  ${NSD_GetText} $ArchiverField $0
  nsDialogs::SelectFileDialog open "$0" "プログラム (*.exe)|*.exe|すべてのファイル (*.*)|*.*"
  Pop $0
  ${If} $0 != ""
    ${NSD_SetText} $ArchiverField $0
  ${EndIf}
FunctionEnd

Function ArchiverPageLeave
  ${NSD_GetText} $ArchiverField $Archiver
  StrCpy $SampleArchiver 0
  ; The sample archiver is installed only now.
  ${If} $Archiver != ""
  ${AndIf} $Archiver != "$INSTDIR\${SAMPLE_EXE}"
  ${AndIfNot} ${FileExists} "$Archiver"
    MessageBox MB_YESNO|MB_ICONEXCLAMATION \
      "$Archiver$\r$\nが見つかりません。このまま設定しますか？" IDYES +2
    Abort
  ${EndIf}
FunctionEnd

; The program reads its settings in the system's ANSI code page. A path that code page cannot
; spell (Japanese on a Western system) would reach it as question marks; its short name, where
; the volume keeps one, reaches it whole.
Function SpellableArchiver
  ${If} $Archiver == ""
    Return
  ${EndIf}
  StrCpy $0 $Archiver
  StrCpy $1 0
  ; CP_ACP with WC_NO_BEST_FIT_CHARS: $1 becomes nonzero when a character has no place in it.
  System::Call 'kernel32::WideCharToMultiByte(i 0, i 0x400, w r0, i -1, p 0, i 0, p 0, *i r1r1) i .r2'
  ${If} $1 = 0
    Return
  ${EndIf}
  GetFullPathName /SHORT $2 $Archiver
  ${If} $2 != ""
    DetailPrint "$Archiver はこのシステムの文字コードで表せないため、短い名前 $2 で設定します。"
    StrCpy $Archiver $2
  ${Else}
    DetailPrint "$Archiver はこのシステムの文字コードで表せないため、${PROGRAM_NAME}から見つからないことがあります。"
  ${EndIf}
FunctionEnd

; The whole settings file as the installer writes it, in $0 (from the archiver's path in $0).
!macro SettingsText un
  Function ${un}SettingsText
    StrCpy $0 "[Korvu Path]$\r$\nPath=$0$\r$\n"
  FunctionEnd
!macroend
!insertmacro SettingsText ""
!insertmacro SettingsText "un."

Section
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${PROGRAM}"
  File "/oname=${SAMPLE_EXE}" "${SAMPLE}"
  ${If} $SampleArchiver = 1
    StrCpy $Archiver "$INSTDIR\${SAMPLE_EXE}"
  ${EndIf}

  ${If} ${FileExists} "$INSTDIR\${INI}"
    DetailPrint "既存の設定ファイル $INSTDIR\${INI} をそのまま使います。"
  ${Else}
    ; UTF-16 with a byte-order mark: Windows reads such a settings file whole and hands the
    ; program its text in the ANSI code page, so a path in Japanese arrives as it was typed.
    Call SpellableArchiver
    StrCpy $0 $Archiver
    Call SettingsText
    ClearErrors
    FileOpen $1 "$INSTDIR\${INI}" w
    FileWriteUTF16LE /BOM $1 $0
    FileClose $1
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "設定ファイル $INSTDIR\${INI} を書けませんでした。" /SD IDOK
      Abort
    ${EndIf}
    WriteRegStr HKCU "${UNINST_KEY}" "${WRITTEN_VALUE}" "$Archiver"
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${PROGRAM_NAME}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 \
    "" "" "圧縮/解凍を行うファイルまたはフォルダをまとめて+Korvuに渡します"
  CreateShortcut "$SENDTO\${PROGRAM_NAME}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PROGRAM_NAME} (${PRODUCT})"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; Whether the settings file still reads exactly as the installer wrote it: 1 or 0 in $0.
Function un.SettingsUnedited
  ClearErrors
  ReadRegStr $0 HKCU "${UNINST_KEY}" "${WRITTEN_VALUE}"
  ${If} ${Errors}
    ; Not written by an installer: the user's own.
    StrCpy $0 0
    Return
  ${EndIf}
  Call un.SettingsText
  StrCpy $3 $0
  StrCpy $0 0
  ClearErrors
  FileOpen $1 "$INSTDIR\${INI}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  FileReadWord $1 $2
  ${If} $2 = 0xFEFF
    StrCpy $4 ""
    ${Do}
      ClearErrors
      FileReadUTF16LE $1 $2
      ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
      StrCpy $4 "$4$2"
    ${Loop}
    ; StrCmpS: a change of letter case is an edit too.
    StrCmpS $4 $3 0 +2
    StrCpy $0 1
  ${EndIf}
  FileClose $1
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\${SAMPLE_EXE}"
  Delete "$SMPROGRAMS\${PROGRAM_NAME}.lnk"
  Delete "$SENDTO\${PROGRAM_NAME}.lnk"
  ${If} ${FileExists} "$INSTDIR\${INI}"
    Call un.SettingsUnedited
    ${If} $0 = 1
      Delete "$INSTDIR\${INI}"
    ${Else}
      DetailPrint "編集された設定ファイル $INSTDIR\${INI} は残しました。"
      MessageBox MB_OK|MB_ICONINFORMATION \
        "設定ファイルが編集されているため、削除せずに残しました。$\r$\n$INSTDIR\${INI}" /SD IDOK
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
