package org.korvane.mardel;

/** A variant of the class that declares the native methods as instance methods. */
public final class OperatingSystem {
    static {
        System.loadLibrary("osidentity");
    }

    public native String getOSUUID();

    public native String getOSSerialNumber();
}
