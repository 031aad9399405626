"""A Windows program at an SMB client, for the share rig's Samba rows: opens,
creates, locks and deletes files on the share as a Windows application
would, with an explicit share access, through impacket (SMB 3).

Started as `smb_person.py SERVER SHARE USER PASSWORD EXPORTED`; one command
a line on standard input, one answer a line on standard output: 0, or the
name of the NTSTATUS that refused it.  Names are paths in the folder
EXPORTED that the share serves.
  open F     open F for reading and writing, shared, and close it
  create F   create F as a new file, shared, and close it
  deny F     open F for reading and writing with share access 0; keep it open
  lock F     open F shared and lock its whole range exclusively; keep both
  delete F   delete F
  watch D..  from now on, open every file of the folders D whose name
             begins with ".#ZARLOCK" as it appears, with share access 0,
             until it goes
At the end of its input it prints how many files the watch opened and ends
its sessions, which closes what it holds.
"""

import os
import struct
import sys
import threading

from impacket import nt_errors, smb3structs as smb2
from impacket.smbconnection import SMBConnection, SessionError

READ_WRITE = smb2.FILE_READ_DATA | smb2.FILE_WRITE_DATA
SHARED = smb2.FILE_SHARE_READ | smb2.FILE_SHARE_WRITE | smb2.FILE_SHARE_DELETE
WHOLE_RANGE = 0xFFFFFFFFFFFFFFFF


def connect(server, share, user, password):
    conn = SMBConnection(server, server)
    conn.login(user, password)
    return conn, conn.connectTree(share)


def open_file(conn, tree, name, share_access, disposition=smb2.FILE_OPEN):
    return conn.createFile(tree, name, READ_WRITE, share_access, smb2.FILE_NON_DIRECTORY_FILE,
                           disposition, smb2.FILE_ATTRIBUTE_NORMAL)


def lock_whole_range(conn, tree, fid):
    """An exclusive lock of every byte, failing at once.  impacket's own lock
    request joins its elements as text; this one sends them as bytes."""
    smb = conn.getSMBServer()
    packet, request = smb.SMB_PACKET(), smb2.SMB2Lock()
    packet["Command"], packet["TreeID"] = smb2.SMB2_LOCK, tree
    request["FileID"], request["LockCount"] = fid, 1
    request["Locks"] = struct.pack("<QQLL", 0, WHOLE_RANGE, smb2.SMB2_LOCKFLAG_EXCLUSIVE_LOCK
                                   | smb2.SMB2_LOCKFLAG_FAIL_IMMEDIATELY, 0)
    packet["Data"] = request
    answer = smb.recvSMB(smb.sendSMB(packet))
    if not answer.isValidAnswer(nt_errors.STATUS_SUCCESS):
        raise SessionError(answer["Status"], answer)


def watch(login, folders, stop, opened):
    """Holds each check file of `folders` open unshared from when a listing
    first shows it until a listing no longer does, until `stop` is set;
    each file it opens is added to `opened`."""
    conn, tree = connect(*login)
    held = {}
    while not stop.wait(0.005):
        for folder in folders:
            try:
                names = {folder + "/" + f.get_longname()
                         for f in conn.listPath(login[1], folder + "/*")}
            except SessionError:
                continue  # not made yet
            for name in set(held) - names:
                conn.closeFile(tree, held.pop(name))
            for name in sorted(names - set(held)):
                if name.rsplit("/", 1)[1].startswith(".#ZARLOCK"):
                    try:
                        held[name] = open_file(conn, tree, name, 0)
                        opened.append(name)
                    except SessionError:
                        pass  # gone again, or held by another SMB client


def main():
    login, exported = sys.argv[1:5], sys.argv[5]
    conn, tree = connect(*login)
    stop, opened, watches = threading.Event(), [], []
    for line in sys.stdin:
        command, *paths = line.split()
        names = [os.path.relpath(path, exported) for path in paths]
        try:
            if command == "watch":
                watches.append(threading.Thread(target=watch, args=(login, names, stop, opened)))
                watches[-1].start()
            elif command == "delete":
                conn.deleteFile(login[1], names[0])
            elif command in ("deny", "lock"):
                fid = open_file(conn, tree, names[0], 0 if command == "deny" else SHARED)
                if command == "lock":
                    lock_whole_range(conn, tree, fid)
            else:
                disposition = smb2.FILE_CREATE if command == "create" else smb2.FILE_OPEN
                conn.closeFile(tree, open_file(conn, tree, names[0], SHARED, disposition))
            answer = "0"
        except SessionError as e:
            answer = nt_errors.ERROR_MESSAGES.get(e.getErrorCode(), ("0x%08x" % e.getErrorCode(),))[0]
        print(answer, flush=True)
    stop.set()
    for thread in watches:
        thread.join()
    print(len(opened), flush=True)


if __name__ == "__main__":
    main()
