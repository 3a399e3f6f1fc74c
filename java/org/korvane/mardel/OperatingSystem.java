package org.korvane.mardel;

/**
 * The computer's hardware identity, from the native library osidentity.
 *
 * <p>The package and class names are fixed: the library's JNI entry points
 * are named after them, so a copy of this class under another name cannot
 * load. The library is looked for on java.library.path, then where the
 * libosidentity-jni and osidentity-jni packages put it, then in this jar.
 * It runs hal-get-property through /bin/sh: the osidentity-hal-tool package
 * (or HAL) must be installed.
 */
public final class OperatingSystem {
    static {
        NativeLibrary.load();
    }

    private OperatingSystem() {}

    /**
     * The hardware UUID as HAL reports it, or null when none is available.
     *
     * @return the UUID, or null
     */
    public static native String getOSUUID();

    /**
     * The hardware serial number as HAL reports it, or null when none is available.
     *
     * @return the serial number, or null
     */
    public static native String getOSSerialNumber();
}
