#!/usr/bin/python3
# Writes a scratch home for the screenshots: a jobs file whose jobs show
# every state of a job, their run histories, the folders they sync and the
# application's settings. Usage: fixtures.py HOME DATA
#   HOME  the scratch home (settings under HOME/.config, data under
#         HOME/.local/share)
#   DATA  the folder that holds the synced folders
import json
import os
import subprocess
import sys
import time
import uuid

home, data = sys.argv[1], os.path.realpath(sys.argv[2])
REFERENCE = 978307200  # 2001-01-01T00:00:00Z, the stores' epoch
now = time.time() - REFERENCE

# The application's own namespace for volumes without a file-system UUID.
VOLUME_NAMESPACE = uuid.UUID("5b1e7c42-9a3d-4f08-b62e-71c40d93a56f")


def unescape(field):
    return field.encode().decode("unicode_escape")


def mount_of(path):
    """The mount holding `path`: (mount point, file system, source)."""
    best = None
    with open("/proc/self/mountinfo") as table:
        for line in table:
            left, right = line.split(" - ", 1)
            point = unescape(left.split()[4])
            fs, source = right.split()[:2]
            prefix = point.rstrip("/") + "/"
            if path == point or path.startswith(prefix) or point == "/":
                if best is None or len(point) >= len(best[0]):
                    best = (point, fs, unescape(source))
    return best


def identity(path):
    """The volume identity the application reads for an internal folder."""
    point, fs, source = mount_of(path)
    found = None
    if source.startswith("/dev/"):
        probe = subprocess.run(["blkid", "-p", "-o", "value", "-s", "UUID", source],
                               capture_output=True, text=True)
        found = probe.stdout.strip() or None
        if found is None and os.path.isdir("/dev/disk/by-uuid"):
            device = os.path.realpath(source)
            for name in os.listdir("/dev/disk/by-uuid"):
                if os.path.realpath(os.path.join("/dev/disk/by-uuid", name)) == device:
                    found = name
    if found is None:
        found = str(uuid.uuid5(VOLUME_NAMESPACE, fs + "\0" + source + "\0" + point)).upper()
    return point, {
        "kind": "internal", "uuid": found, "name": os.path.basename(point.rstrip("/")) or "/",
        "fileSystem": fs, "isReadOnly": False,
        "caseSensitive": fs not in ("vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk"),
    }


def folder(*parts):
    path = os.path.join(data, *parts)
    os.makedirs(path, exist_ok=True)
    return path


def endpoint(path):
    point, volume = identity(path)
    return {"path": path, "volume": volume, "relativePath": os.path.relpath(path, point)}


def removable(path, name):
    return {"path": path, "relativePath": os.path.basename(path), "volume": {
        "kind": "removable", "uuid": "7D3C0B6E-4A51-4E0F-9B8A-2C6E1F5D9A13", "name": name,
        "fileSystem": "exfat", "isReadOnly": False, "caseSensitive": False}}


def options(**changes):
    base = {"archiveEnabled": True, "archiveRetentionDays": 30, "deleteGuardPercent": 20,
            "deleteGuardMinFiles": 50, "ejectWhenDone": False, "skipOnBattery": False}
    base.update(changes)
    return base


def job(name, mode, source, destination, triggers=(), enabled=True, **changes):
    return {"id": str(uuid.uuid4()).upper(), "name": name, "mode": mode, "isEnabled": enabled,
            "source": source, "destination": destination, "triggers": list(triggers),
            "filters": {"useDefaultExcludes": True, "patterns": []}, "options": options(**changes)}


def record(of, hours_ago, outcome, minutes=2, copied=0, size=0, trigger="schedule"):
    started = now - hours_ago * 3600
    return {"id": str(uuid.uuid4()).upper(), "jobID": of["id"], "trigger": trigger,
            "startedAt": started, "endedAt": started + minutes * 60, "outcome": outcome,
            "stats": {"filesCopied": copied, "bytesCopied": size, "filesArchived": 0, "skipped": [], "errors": []}}


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def fill(path, count, prefix, size=2048):
    for i in range(count):
        write(os.path.join(path, f"{prefix}-{i:03}.txt"), "x" * size)


hourly = {"type": "every", "value": 1, "unit": "hours"}

documents = job("Documents", "copy", endpoint(folder("Documents")), endpoint(folder("Backup", "Documents")))
fill(folder("Documents"), 12, "report")

# A mirror whose destination holds many files the source lacks: its
# catch-up run stops for review.
photos_a, photos_b = folder("Photos"), folder("Backup", "Photos")
fill(photos_a, 20, "IMG")
fill(photos_b, 20, "IMG")
fill(photos_b, 180, "old")
photos = job("Photos", "mirror", endpoint(photos_a), endpoint(photos_b), [hourly])

# A two-way job with one large new file: its catch-up run copies it slowly.
projects_a, projects_b = folder("Projects"), folder("Shared", "Projects")
fill(projects_a, 8, "notes")
big = 24 * 1024 * 1024
with open(os.path.join(projects_a, "footage.mov"), "wb") as out:
    out.write(os.urandom(big))
projects = job("Projects", "twoWay", endpoint(projects_a), endpoint(projects_b), [hourly])

mail = job("Mail archive", "copy", endpoint(folder("Mail")), endpoint(folder("Backup", "Mail")))
music = job("Music library", "mirror", endpoint(folder("Music")),
            removable("/media/TRAVEL/Music", "TRAVEL"), [{"type": "onConnect", "action": "run"}],
            ejectWhenDone=True)
notes = job("Notes", "twoWay", endpoint(folder("Notes")), endpoint(folder("Shared", "Notes")))
videos = job("Videos", "copy", endpoint(folder("Videos")), endpoint(folder("Backup", "Videos")),
             [{"type": "weekly", "weekdays": [2, 5], "at": {"hour": 3, "minute": 0}}], enabled=False)
jobs = [documents, photos, projects, mail, music, notes, videos]

histories = {
    documents["id"]: [record(documents, 5, {"success": {}}, copied=12, size=24576),
                      record(documents, 29, {"success": {}}, copied=3, size=6144)],
    photos["id"]: [record(photos, 3, {"success": {}}, copied=20, size=40960)],
    projects["id"]: [record(projects, 3, {"success": {}}, copied=8, size=16384)],
    mail["id"]: [record(mail, 2, {"failed": {"_0": "rsync: [receiver] mkstemp \"Mail/INBOX.mbox\" failed: "
                                                   "Permission denied (13)"}}, trigger="manual")],
    music["id"]: [record(music, 26, {"skipped": {"_0": "deviceNotConnected"}}, minutes=0, trigger="catchUp")],
    videos["id"]: [record(videos, 50, {"success": {}}, copied=2, size=1 << 30)],
}

store = os.path.join(home, ".local", "share", "kelto-sync")
write(os.path.join(store, "jobs.json"), json.dumps({"version": 1, "jobs": jobs}))
for key, history in histories.items():
    write(os.path.join(store, "history", key + ".json"), json.dumps(history))
write(os.path.join(home, ".config", "Kelto", "Kelto Sync.conf"),
      "[General]\neditor.advancedExpanded=true\nnotifications.enabled=true\n")
