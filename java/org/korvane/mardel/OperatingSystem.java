package org.korvane.mardel;

/** The computer's hardware identity, from the native library osidentity. */
public final class OperatingSystem {
    static {
        System.loadLibrary("osidentity");
    }

    private OperatingSystem() {}

    /** The hardware UUID as HAL reports it, or null when none is available. */
    public static native String getOSUUID();

    /** The hardware serial number as HAL reports it, or null when none is available. */
    public static native String getOSSerialNumber();
}
