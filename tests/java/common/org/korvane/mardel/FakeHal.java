package org.korvane.mardel;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/** The directory that the fake hal-get-property answers from and logs to. */
final class FakeHal {
    static final String UUID = "system.hardware.uuid";
    static final String SMBIOS_UUID = "smbios.system.uuid";
    static final String SERIAL = "system.hardware.serial";
    static final String SMBIOS_SERIAL = "smbios.system.serial";

    private static final Path DIR = Paths.get(System.getenv("FAKE_HAL_DIR"));

    private FakeHal() {}

    /**
     * No answers, and an empty log. The files are deleted by name: a 32-bit
     * JVM cannot list a directory whose inode numbers need 64 bits.
     */
    static void reset() {
        try {
            for (String key : new String[] {UUID, SMBIOS_UUID, SERIAL, SMBIOS_SERIAL}) {
                Files.deleteIfExists(DIR.resolve(key));
            }
            Files.write(DIR.resolve("log"), new byte[0]);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static void answer(String key, byte[] bytes) {
        try {
            Files.write(DIR.resolve(key), bytes);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The arguments of every start of the tool so far. */
    static List<String> log() {
        try {
            return Files.readAllLines(DIR.resolve("log"));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static String arguments(String key) {
        return "--udi /org/freedesktop/Hal/devices/computer --key " + key;
    }
}
