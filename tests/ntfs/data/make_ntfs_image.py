#!/usr/bin/env python3
"""Makes an NTFS test image with the real tools and writes its manifest.

    make_ntfs_image.py OUT.img LAYOUT SIZE_MIB [mkntfs options...]

LAYOUT is "basic" (resident, non-resident, long, non-Latin and DOS names,
a sparse file, nested folders, a deleted folder, a fragmented file),
"fragmented" (a volume filled with 8 KiB files, every other one deleted, then
one big file written into the holes) or "reused" (a full volume with a
deleted file whose clusters after its first a later file took, an intact
deleted file and a deleted dot-file). The files to delete are deleted last,
so that their records stay in the master file table.

The image is made with mkntfs and filled through an ntfs-3g FUSE mount, which
needs root and /dev/fuse. Exit code 77 means "cannot mount here".

The manifest OUT.img.manifest has one line a file:
    state<TAB>path<TAB>size<TAB>seed<TAB>extra
state is "present", "deleted" or "overwritten" (a deleted file whose clusters
were given to a later file); path uses "\\"; extra is "-", or "dos=NAME", or
"sparse=OFF+LEN,OFF+LEN" (the ranges that hold data; the rest reads as zeros).
File bytes follow content() below; the tests compute the same bytes.
"""
import os
import subprocess
import sys
import tempfile


def content(size, seed):
    """Every 512-byte block starts with its index (u64) and the seed (u32)."""
    tail = bytes(((k * 7 + seed * 13 + 1) & 0xFF) for k in range(12, 512))
    seed_bytes = (seed & 0xFFFFFFFF).to_bytes(4, "little")
    out = bytearray()
    block = 0
    while len(out) < size:
        out += block.to_bytes(8, "little") + seed_bytes + tail
        block += 1
    return bytes(out[:size])


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Volume:
    def __init__(self, image, mnt):
        self.image = image
        self.mnt = mnt
        self.entries = []  # [state, path, size, seed, extra]

    def remount(self):
        subprocess.run(["umount", self.mnt], check=True)
        run("ntfs-3g", self.image, self.mnt)

    def first_lcn(self, rel):
        r = subprocess.run(["ntfsinfo", "-v", "-F", "/" + rel, self.image],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        lines = r.stdout.splitlines()
        for i, line in enumerate(lines):
            if "Runlist:" in line and i + 1 < len(lines):
                return int(lines[i + 1].split()[1], 16)
        return -1

    def delete_alternate(self, rels, state="overwritten"):
        """Deletes every other file in the order of their clusters on the volume."""
        subprocess.run(["umount", self.mnt], check=True)
        order = sorted(rels, key=self.first_lcn)
        run("ntfs-3g", self.image, self.mnt)
        for rel in order[0::2]:
            self.delete(rel, state)

    def p(self, rel):
        return os.path.join(self.mnt, rel)

    def write(self, rel, size, seed, extra="-"):
        os.makedirs(os.path.dirname(self.p(rel)) or self.mnt, exist_ok=True)
        with open(self.p(rel), "wb") as f:
            f.write(content(size, seed))
            f.flush()
            os.fsync(f.fileno())   # one file at a time keeps the allocation in order
        self.entries.append(["present", rel, size, seed, extra])

    def fill(self, rel, seed):
        """A file that takes the rest of the free space."""
        st = os.statvfs(self.mnt)
        size = st.f_bavail * st.f_frsize
        while size > 0:
            try:
                self.write(rel, size, seed)
                return
            except OSError:
                self.entries = [e for e in self.entries if e[1] != rel]
                size -= st.f_frsize

    def write_sparse(self, rel, size, ranges, seed):
        data = content(size, seed)
        with open(self.p(rel), "wb") as f:
            f.truncate(size)
            for off, length in ranges:
                f.seek(off)
                f.write(data[off:off + length])
        extra = "sparse=" + ",".join("%d+%d" % r for r in ranges)
        self.entries.append(["present", rel, size, seed, extra])

    def delete(self, rel, state="deleted"):
        os.unlink(self.p(rel))
        for e in self.entries:
            if e[1] == rel:
                e[0] = state

    def manifest(self, path):
        with open(path, "w", encoding="utf-8") as f:
            for state, rel, size, seed, extra in self.entries:
                f.write("%s\t%s\t%d\t%d\t%s\n" % (state, rel.replace("/", "\\"), size, seed, extra))


LONG_NAME = "long_" + "abcdefghij" * 14 + ".txt"


def basic(v):
    v.write("keep.txt", 5000, 1)
    v.write("Docs/readme.txt", 100, 2)
    v.write("small.txt", 300, 3)                     # resident, crosses 0x1FE
    v.write("medium.bin", 200 * 1024, 4)
    v.write("n" * 70, 20 * 1024, 5)                  # long name: $DATA header crosses 0x1FE
    v.write("Фото_日本_ñandú.jpg", 3000, 6)           # non-Latin name
    v.write(LONG_NAME, 4000, 15)                     # its name crosses 0x1FE
    # ntfs-3g drops the DOS name from the record when it deletes the file, so
    # the file that keeps two names stays; the deleted one keeps its long name.
    v.write("A very long name.jpeg", 9000, 7, "dos=AVERYL~1.JPG")
    os.setxattr(v.p("A very long name.jpeg"), "system.ntfs_dos_name", b"AVERYL~1.JPG")
    v.write("Another long name.jpeg", 6000, 14)
    os.setxattr(v.p("Another long name.jpeg"), "system.ntfs_dos_name", b"ANOTHE~1.JPG")
    v.write_sparse("sparse.bin", 1024 * 1024 + 8192, [(0, 4096), (1024 * 1024, 8192)], 8)
    v.write("Pictures/2009/img_0001.jpg", 50 * 1024, 9)
    v.write("Pictures/2009/img_0002.jpg", 12 * 1024, 10)
    v.write("OldDir/inner.txt", 7000, 11)
    # Holes for a fragmented file: 30 small files, every other one deleted.
    for i in range(30):
        v.write("fill/f%03d.bin" % i, 8192, 100 + i)
    # Take the rest of the free space, so that the next file must use the holes.
    st = os.statvfs(v.mnt)
    v.write("pad.bin", max(st.f_bavail * st.f_frsize - 8192, 0), 13)
    v.delete_alternate(["fill/f%03d.bin" % i for i in range(30)])
    v.write("frag.bin", 14 * 8192 + 3000, 12)
    # Deleted last, so that their records are not reused.
    for rel in ["small.txt", "medium.bin", "n" * 70, "Фото_日本_ñandú.jpg", LONG_NAME,
                "Another long name.jpeg", "sparse.bin", "Pictures/2009/img_0001.jpg",
                "OldDir/inner.txt", "frag.bin"]:
        v.delete(rel)
    os.rmdir(v.p("OldDir"))


def fragmented(v):
    i = 0
    try:
        while True:
            v.write("fill/f%04d.bin" % i, 8192, 1000 + i)
            i += 1
    except OSError:
        # The last one may be incomplete: remove it.
        rel = "fill/f%04d.bin" % i
        if os.path.exists(v.p(rel)):
            os.unlink(v.p(rel))
        v.entries = [e for e in v.entries if e[1] != rel]
    v.delete_alternate(["fill/f%04d.bin" % j for j in range(i)])
    v.write("big.bin", 72 * 8192 + 1000, 7)
    v.delete("big.bin")


def reused(v):
    v.write("intact.jpg", 40 * 1024, 21)
    v.write("reused.jpg", 64 * 1024, 22)
    v.write(".hidden.txt", 9000, 23)
    v.fill("pad.bin", 13)
    # The deleted file's clusters go to two later files, one of a cluster and
    # one of the rest; the first is deleted again, so that the deleted file's
    # first cluster is free and the others are in use.
    v.delete("reused.jpg", "overwritten")
    cluster = os.statvfs(v.mnt).f_frsize
    v.write("one.bin", cluster, 24)
    v.write("rest.bin", 64 * 1024 - cluster, 25)
    v.delete("one.bin")
    v.delete("intact.jpg")
    v.delete(".hidden.txt")


def main():
    out, layout, size_mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
    options = sys.argv[4:]
    if os.path.exists(out):
        os.unlink(out)
    with open(out, "wb") as f:
        f.truncate(size_mib * 1024 * 1024)
    run("mkntfs", "-F", "-Q", "-L", "FENNICK", *options, out)
    mnt = tempfile.mkdtemp(prefix="fennick-mnt-")
    r = subprocess.run(["ntfs-3g", out, mnt], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        os.rmdir(mnt)
        sys.stderr.write("ntfs-3g mount failed: %s\n" % r.stderr.decode(errors="replace"))
        sys.exit(77)
    v = Volume(out, mnt)
    try:
        {"basic": basic, "fragmented": fragmented, "reused": reused}[layout](v)
    finally:
        subprocess.run(["umount", mnt], check=False)
        os.rmdir(mnt)
    v.manifest(out + ".manifest")


if __name__ == "__main__":
    main()
