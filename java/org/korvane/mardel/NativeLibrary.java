package org.korvane.mardel;

import java.io.IOException;
import java.io.InputStream;
import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Scanner;

/**
 * Loads libosidentity.so for {@link OperatingSystem}: from java.library.path,
 * then from where the Debian and RPM packages put it (JVMs other than the
 * distribution's do not look there), then from this jar, where the Maven
 * artifact carries it for every target.
 */
final class NativeLibrary {
    /** The system property naming the folder the jar's library is extracted to. */
    static final String TMPDIR_PROPERTY = "osidentity.tmpdir";

    private static final String RESOURCES = "/org/korvane/mardel/native/";

    private NativeLibrary() {}

    static void load() {
        List<String> tried = new ArrayList<>();
        try {
            System.loadLibrary("osidentity");
            return;
        } catch (UnsatisfiedLinkError e) {
            tried.add("java.library.path (" + e.getMessage() + ")");
        }
        String[] target = thisTarget();
        if (target != null) {
            for (String path : installedPaths(target)) {
                if (!Files.exists(Paths.get(path))) {
                    tried.add(path);
                    continue;
                }
                try {
                    System.load(path);
                    return;
                } catch (UnsatisfiedLinkError e) {
                    tried.add(path + " (" + e.getMessage() + ")");
                }
            }
            if (loadFromJar(target[0], tried)) {
                return;
            }
        }
        throw new UnsatisfiedLinkError("osidentity: no library for this JVM"
                + (target == null ? "" : " (" + target[0] + ")") + "; tried " + String.join(", ", tried)
                + ". Install libosidentity-jni (Debian) or osidentity-jni (RPM), or use the Maven artifact"
                + " org.korvane.mardel:osidentity, which carries the library of every target.");
    }

    /**
     * The row of the jar's table of targets (preset, ELF class and machine,
     * Debian architecture, multiarch triplet, RPM library folder) that this
     * JVM's own program is built for, as its ELF header says; null where none.
     */
    private static String[] thisTarget() {
        String elf = elfOfThisJvm();
        InputStream table = NativeLibrary.class.getResourceAsStream(RESOURCES + "targets");
        if (elf == null || table == null) {
            return null;
        }
        try (Scanner rows = new Scanner(table, "UTF-8")) {
            while (rows.hasNextLine()) {
                String[] row = rows.nextLine().trim().split("\\s+");
                if (row.length == 5 && elf.equals(row[1] + (row[1].endsWith(":ARM") ? ":" + row[2] : ""))) {
                    return row;
                }
            }
        }
        return null;
    }

    /**
     * This JVM's program as "ELF64:X86-64" (readelf's names); 32-bit ARM with
     * its float ABI, as "ELF32:ARM:armhf" or "ELF32:ARM:armel".
     */
    private static String elfOfThisJvm() {
        byte[] header = new byte[52];
        try (RandomAccessFile exe = new RandomAccessFile("/proc/self/exe", "r")) {
            exe.readFully(header);
        } catch (IOException e) {
            return null;
        }
        boolean is64 = header[4] == 2, bigEndian = header[5] == 2;
        int machine = number(header, 18, 2, bigEndian);
        for (int i = 0; i < MACHINES.length; i += 2) {
            if (MACHINES[i].equals(Integer.toString(machine))) {
                String elf = (is64 ? "ELF64:" : "ELF32:") + MACHINES[i + 1];
                if (machine != 40) {
                    return elf;
                }
                boolean hardFloat = (number(header, 36, 4, bigEndian) & 0x400) != 0; // EF_ARM_ABI_FLOAT_HARD
                return elf + (hardFloat ? ":armhf" : ":armel");
            }
        }
        return null;
    }

    /** ELF machine numbers and readelf's names for them. */
    private static final String[] MACHINES = {
        "3", "80386", "62", "X86-64", "183", "AArch64", "40", "ARM",
        "21", "PowerPC64", "22", "S/390", "243", "RISC-V",
    };

    private static int number(byte[] bytes, int at, int size, boolean bigEndian) {
        int value = 0;
        for (int i = 0; i < size; i++) {
            value |= (bytes[at + i] & 0xff) << 8 * (bigEndian ? size - 1 - i : i);
        }
        return value;
    }

    /** Where the packages put the library: Debian's jni folder, the RPMs' libdir. */
    private static List<String> installedPaths(String[] target) {
        List<String> paths = new ArrayList<>();
        paths.add("/usr/lib/" + target[3] + "/jni/libosidentity.so");
        if (!target[4].equals("-")) {
            paths.add(target[4] + "/libosidentity.so");
        }
        return paths;
    }

    /**
     * Extracts the jar's library for the target into a new folder that only
     * this user can write (made with mode 0700), loads it, and removes it
     * again: the loaded library stays mapped.
     */
    private static boolean loadFromJar(String preset, List<String> tried) {
        String resource = RESOURCES + preset + "/libosidentity.so";
        InputStream library = NativeLibrary.class.getResourceAsStream(resource);
        if (library == null) {
            tried.add("this jar, which carries none");
            return false;
        }
        String base = System.getProperty(TMPDIR_PROPERTY, System.getProperty("java.io.tmpdir"));
        Path folder = null, file = null;
        try (InputStream in = library) {
            folder = Files.createTempDirectory(Paths.get(base), "osidentity-");
            file = folder.resolve("libosidentity.so");
            Files.copy(in, file, StandardCopyOption.REPLACE_EXISTING);
            System.load(file.toString());
            return true;
        } catch (IOException e) {
            throw new UnsatisfiedLinkError("osidentity: cannot extract its library to " + base + ": " + e
                    + "; set -D" + TMPDIR_PROPERTY + "=DIR to a folder this user may write");
        } catch (UnsatisfiedLinkError e) {
            throw new UnsatisfiedLinkError("osidentity: cannot load its library from " + file + ": "
                    + e.getMessage() + "; where " + base + " is mounted noexec, set -D" + TMPDIR_PROPERTY
                    + "=DIR to a folder on a file system that allows programs");
        } finally {
            delete(file);
            delete(folder);
        }
    }

    private static void delete(Path path) {
        try {
            if (path != null) {
                Files.deleteIfExists(path);
            }
        } catch (IOException e) {
            path.toFile().deleteOnExit();
        }
    }
}
