# The host's folder, %ProgramData%\Orvanel, made as the launchers need it
# (docs/security.md), and the host's files written into it. For the host's
# installer, from an elevated Windows PowerShell, before it writes any file:
#
#   %SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -NoProfile -ExecutionPolicy Bypass
#       -File make-host-folder.ps1 -Files Sonvik.exe, Sonvik.dll
#
# This script and the files it names must lie in a folder only administrators
# can write (the installer's own, below Program Files), never in a user's:
# whoever can change them there runs code elevated.
#
# Any user may create Orvanel before the installer runs, as a folder holding a
# DLL of theirs, as a junction to a folder of theirs, or keep a handle open on
# it. So the folder is made with its protected access list in the one call
# that creates it, and that call returns the handle it is held by, shared for
# no rename, so nobody can open it first and keep it from being held; one
# that was there already and was not made so (a link, no folder, another
# owner, a list that lets anyone else change it) is renamed aside under a name
# nobody can foresee, the link itself and never what it leads to, and never
# taken over; and owner, list and link attribute are read again from the
# handle while the files are written. Whatever it cannot make so, it stops
# at, having written nothing.
param([string[]] $Files = @())

$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3

# Administrators own it; only SYSTEM and Administrators may change it or what
# is made in it; Users may read and run, and write no attributes. This list,
# and the rights below, are held to the launchers' code
# (tests/tools/check-host-folder-values.sh): they change there first.
$protectedSddl = 'O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
# SYSTEM, Administrators, TrustedInstaller.
$administer = 'S-1-5-18', 'S-1-5-32-544', 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
# Write data or add a file, append or add a folder, write attributes, delete
# inside, delete, WRITE_DAC, WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL.
$rightsThatChange = 0x500D0146

Add-Type -TypeDefinition @'
using System;
using System.ComponentModel;
using System.IO;
using System.Runtime.InteropServices;
using System.Security.AccessControl;
using Microsoft.Win32.SafeHandles;

public static class HostFolder
{
    [StructLayout(LayoutKind.Sequential)]
    struct AttributeTagInfo { public uint Attributes; public uint ReparseTag; }

    [StructLayout(LayoutKind.Sequential)]
    struct UnicodeString { public ushort Length; public ushort MaximumLength; public IntPtr Buffer; }

    [StructLayout(LayoutKind.Sequential)]
    struct ObjectAttributes
    {
        public int Length;
        public IntPtr RootDirectory;
        public IntPtr ObjectName;
        public uint Attributes;
        public IntPtr SecurityDescriptor;
        public IntPtr SecurityQualityOfService;
    }

    [StructLayout(LayoutKind.Sequential)]
    struct IoStatusBlock { public IntPtr Status; public IntPtr Information; }

    [DllImport("ntdll.dll")]
    static extern int NtCreateFile(out SafeFileHandle handle, uint access, ref ObjectAttributes attributes,
                                   out IoStatusBlock status, IntPtr allocationSize, uint fileAttributes, uint share,
                                   uint disposition, uint options, IntPtr extendedAttributes, uint extendedLength);

    [DllImport("ntdll.dll")]
    static extern int RtlNtStatusToDosError(int status);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern SafeFileHandle CreateFileW(string path, uint access, uint share, IntPtr security, uint disposition,
                                             uint flags, IntPtr template);

    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool GetFileInformationByHandleEx(SafeFileHandle file, int informationClass,
                                                    out AttributeTagInfo information, int size);

    [DllImport("advapi32.dll")]
    static extern uint GetSecurityInfo(SafeFileHandle handle, int objectType, uint information, IntPtr owner,
                                       IntPtr group, IntPtr dacl, IntPtr sacl, out IntPtr descriptor);

    [DllImport("advapi32.dll")]
    static extern uint GetSecurityDescriptorLength(IntPtr descriptor);

    [DllImport("kernel32.dll")]
    static extern IntPtr LocalFree(IntPtr memory);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern bool MoveFileExW(string from, string to, uint flags);

    const uint GenericRead = 0x80000000, ShareRead = 1, ShareWrite = 2;
    const int NameCollision = unchecked((int) 0xC0000035);
    public const int SharingViolation = 32, AccessDenied = 5;

    // Made with the descriptor in the call that creates it, and held from
    // that call on, as Hold holds it: between a CreateDirectoryW and the
    // CreateFileW that opens it, anyone may open the new folder sharing
    // nothing and keep it from being held. Null where something of that name
    // is there already, which is left as it is.
    // https://learn.microsoft.com/en-us/windows/win32/api/winternl/nf-winternl-ntcreatefile
    public static SafeFileHandle CreateAndHold(string path, RawSecurityDescriptor descriptor)
    {
        const uint caseInsensitive = 0x40, create = 2;
        const uint directory = 0x1, synchronousIo = 0x20, openReparsePoint = 0x00200000;
        byte[] binary = new byte[descriptor.BinaryLength];
        descriptor.GetBinaryForm(binary, 0);
        string ntPath = @"\??\" + path;
        GCHandle pinned = GCHandle.Alloc(binary, GCHandleType.Pinned);
        IntPtr text = Marshal.StringToHGlobalUni(ntPath);
        IntPtr name = Marshal.AllocHGlobal(Marshal.SizeOf(typeof(UnicodeString)));
        try
        {
            UnicodeString unicode = new UnicodeString();
            unicode.Length = (ushort) (ntPath.Length * 2);
            unicode.MaximumLength = unicode.Length;
            unicode.Buffer = text;
            Marshal.StructureToPtr(unicode, name, false);
            ObjectAttributes attributes = new ObjectAttributes();
            attributes.Length = Marshal.SizeOf(typeof(ObjectAttributes));
            attributes.ObjectName = name;
            attributes.Attributes = caseInsensitive;
            attributes.SecurityDescriptor = pinned.AddrOfPinnedObject();
            SafeFileHandle handle;
            IoStatusBlock io;
            int status = NtCreateFile(out handle, GenericRead, ref attributes, out io, IntPtr.Zero, 0,
                                      ShareRead | ShareWrite, create, directory | synchronousIo | openReparsePoint,
                                      IntPtr.Zero, 0);
            if (status == NameCollision)
                return null;
            if (status < 0)
                throw new Win32Exception(RtlNtStatusToDosError(status), "Cannot create " + path);
            return handle;
        }
        finally
        {
            Marshal.FreeHGlobal(name);
            Marshal.FreeHGlobal(text);
            pinned.Free();
        }
    }

    // The object at the path itself, a link never followed. Read access, as
    // only a handle that asks for data counts in the sharing check; sharing
    // no delete, so nobody may rename or delete it while it is held.
    public static SafeFileHandle Hold(string path)
    {
        const uint openExisting = 3, backupSemantics = 0x02000000, openReparsePoint = 0x00200000;
        SafeFileHandle handle = CreateFileW(path, GenericRead, ShareRead | ShareWrite, IntPtr.Zero, openExisting,
                                            backupSemantics | openReparsePoint, IntPtr.Zero);
        if (handle.IsInvalid)
            throw new Win32Exception(Marshal.GetLastWin32Error(), "Cannot open " + path);
        return handle;
    }

    public static FileAttributes AttributesOf(SafeFileHandle held)
    {
        const int fileAttributeTagInfo = 9;
        AttributeTagInfo information;
        if (!GetFileInformationByHandleEx(held, fileAttributeTagInfo, out information,
                                          Marshal.SizeOf(typeof(AttributeTagInfo))))
            throw new Win32Exception(Marshal.GetLastWin32Error());
        return (FileAttributes) information.Attributes;
    }

    // Owner and access list.
    public static RawSecurityDescriptor SecurityOf(SafeFileHandle held)
    {
        const int fileObject = 1;
        const uint ownerAndAccessList = 1 | 4;
        IntPtr descriptor;
        uint error = GetSecurityInfo(held, fileObject, ownerAndAccessList, IntPtr.Zero, IntPtr.Zero, IntPtr.Zero,
                                     IntPtr.Zero, out descriptor);
        if (error != 0)
            throw new Win32Exception((int) error);
        try
        {
            byte[] binary = new byte[GetSecurityDescriptorLength(descriptor)];
            Marshal.Copy(descriptor, binary, 0, binary.Length);
            return new RawSecurityDescriptor(binary, 0);
        }
        finally
        {
            LocalFree(descriptor);
        }
    }

    // Renames what is at `from`, a link itself and not what it leads to; the
    // system's error where it cannot, none where it did.
    public static int MoveAside(string from, string to)
    {
        return MoveFileExW(from, to, 0) ? 0 : Marshal.GetLastWin32Error();
    }
}
'@

# Why the held object is not a folder as this script makes it; nothing when it is.
function Get-WhyNotOurs($held) {
    $attributes = [int][HostFolder]::AttributesOf($held)
    if (($attributes -band [int][IO.FileAttributes]::ReparsePoint) -ne 0) { return 'it is a link' }
    if (($attributes -band [int][IO.FileAttributes]::Directory) -eq 0) { return 'it is no folder' }
    $security = [HostFolder]::SecurityOf($held)
    if ($null -eq $security.Owner -or $administer -notcontains $security.Owner.Value) {
        return "it is owned by $($security.Owner)"
    }
    $protected = [int][Security.AccessControl.ControlFlags]::DiscretionaryAclProtected
    if ($null -eq $security.DiscretionaryAcl -or ([int]$security.ControlFlags -band $protected) -eq 0) {
        return 'its access list is not protected'
    }
    foreach ($entry in $security.DiscretionaryAcl) {
        if ($entry -isnot [Security.AccessControl.CommonAce]) { return 'its access list holds an entry of another kind' }
        if ($entry.AceQualifier -eq [Security.AccessControl.AceQualifier]::AccessAllowed -and
            ($entry.AccessMask -band $rightsThatChange) -ne 0 -and
            $administer -notcontains $entry.SecurityIdentifier.Value) {
            return "$($entry.SecurityIdentifier.Value) may change it"
        }
    }
    return $null
}

# What an administrator cannot open was not made by this script either.
function Get-WhyNotOursAt([string] $path) {
    try { $held = [HostFolder]::Hold($path) } catch { return "it cannot be opened: $($_.Exception.GetBaseException().Message)" }
    try { return Get-WhyNotOurs $held } finally { $held.Dispose() }
}

# A squatter's handle on the folder, or on anything inside it, that shares no
# delete keeps it from being renamed, and only the one who holds it can let
# go: what to do is the administrator's.
function Stop-HeldOpen([string] $path, [int] $code) {
    $reason = (New-Object ComponentModel.Win32Exception $code).Message
    throw ("Cannot set $path aside ($reason): a program holds it, or a file in it, open, and nothing was " +
           "written. Find it in Resource Monitor (resmon.exe), CPU tab, Associated Handles, searching for " +
           "$(Split-Path -Leaf $path); end it, or sign out the user who runs it or restart Windows, then run " +
           "this again before any other user signs in.")
}

$identity = [Security.Principal.WindowsPrincipal][Security.Principal.WindowsIdentity]::GetCurrent()
if (-not $identity.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    throw 'Run this from an elevated prompt: only an administrator may make the host''s folder.'
}

$folder = Join-Path ([Environment]::GetFolderPath('CommonApplicationData')) 'Orvanel'
$descriptor = New-Object Security.AccessControl.RawSecurityDescriptor $protectedSddl

# An earlier run's folder is held again; any other is set aside under a
# name no other user can foresee and take first: a random GUID.
$held = [HostFolder]::CreateAndHold($folder, $descriptor)
if ($null -eq $held) {
    $why = Get-WhyNotOursAt $folder
    if ($why) {
        $aside = "$folder-set-aside-$([guid]::NewGuid())"
        $code = [HostFolder]::MoveAside($folder, $aside)
        if ($code -eq [HostFolder]::SharingViolation -or $code -eq [HostFolder]::AccessDenied) {
            Stop-HeldOpen $folder $code
        }
        if ($code -ne 0) {
            throw (New-Object ComponentModel.Win32Exception -ArgumentList $code, "Cannot rename $folder")
        }
        Write-Warning "$folder was not made by the host's installer ($why): it is now $aside, unused."
        $held = [HostFolder]::CreateAndHold($folder, $descriptor)
        if ($null -eq $held) { throw "$folder was made again by someone else meanwhile: nothing was written." }
    } else {
        $held = [HostFolder]::Hold($folder)
    }
}

# icacls from the system folder, by its full path: an elevated session's
# PATH may name a folder a user can write first.
$icacls = Join-Path ([Environment]::SystemDirectory) 'icacls.exe'
try {
    $why = Get-WhyNotOurs $held
    if ($why) { throw "$folder is not as this script makes it ($why): nothing was written." }
    foreach ($file in $Files) {
        $target = Join-Path $folder (Split-Path -Leaf $file)
        Copy-Item -LiteralPath $file -Destination $target -Force
        # Whoever runs this owns what it writes under one Windows policy
        # ("Default owner for objects created by members of the Administrators
        # group": "Object creator"); the launchers trust Administrators.
        & $icacls $target /setowner '*S-1-5-32-544' /Q | Out-Null
        if ($LASTEXITCODE -ne 0) { throw "Cannot give $target to Administrators." }
    }
} finally {
    $held.Dispose()
}
