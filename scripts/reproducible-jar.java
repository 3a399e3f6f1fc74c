/*
 * Writes a jar whose bytes depend on its contents alone (the jar tool dates
 * each entry by its file and takes folders in the file system's order): the
 * manifest first, then every other file in the order of its name, each
 * dated SOURCE_DATE_EPOCH, in UTC (zip's dates have no zone).
 *
 * Usage: java reproducible-jar.java JAR MANIFEST INPUT...
 *   INPUT: a jar, whose files but its manifest are taken; a folder, whose
 *   files are taken under their paths in it; or NAME=FILE, one file as NAME.
 */
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Enumeration;
import java.util.Map;
import java.util.TimeZone;
import java.util.TreeMap;
import java.util.jar.Attributes;
import java.util.jar.Manifest;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

public class ReproducibleJar {
    public static void main(String[] args) throws IOException {
        TimeZone.setDefault(TimeZone.getTimeZone("UTC"));
        long time = Long.parseLong(System.getenv("SOURCE_DATE_EPOCH")) * 1000;
        Map<String, byte[]> files = new TreeMap<>();
        for (int i = 2; i < args.length; i++) {
            add(args[i], files);
        }
        files.remove("META-INF/MANIFEST.MF");
        Path jar = Paths.get(args[0]), partial = Paths.get(args[0] + ".part");
        try (OutputStream out = Files.newOutputStream(partial); ZipOutputStream zip = new ZipOutputStream(out)) {
            write(zip, "META-INF/MANIFEST.MF", manifest(Paths.get(args[1])), time);
            for (Map.Entry<String, byte[]> file : files.entrySet()) {
                write(zip, file.getKey(), file.getValue(), time);
            }
        }
        Files.move(partial, jar, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
    }

    private static void add(String input, Map<String, byte[]> files) throws IOException {
        int equals = input.indexOf('=');
        Path path = Paths.get(equals < 0 ? input : input.substring(equals + 1));
        if (equals >= 0) {
            files.put(input.substring(0, equals), Files.readAllBytes(path));
        } else if (Files.isDirectory(path)) {
            try (Stream<Path> walk = Files.walk(path)) {
                for (Path file : (Iterable<Path>) walk.filter(Files::isRegularFile)::iterator) {
                    files.put(path.relativize(file).toString(), Files.readAllBytes(file));
                }
            }
        } else {
            try (ZipFile zip = new ZipFile(path.toFile())) {
                for (Enumeration<? extends ZipEntry> e = zip.entries(); e.hasMoreElements();) {
                    ZipEntry entry = e.nextElement();
                    if (!entry.isDirectory()) {
                        files.put(entry.getName(), zip.getInputStream(entry).readAllBytes());
                    }
                }
            }
        }
    }

    /** The manifest as the jar tool writes it, without its Created-By line. */
    private static byte[] manifest(Path source) throws IOException {
        Manifest manifest = new Manifest();
        manifest.getMainAttributes().put(Attributes.Name.MANIFEST_VERSION, "1.0");
        try (java.io.InputStream in = Files.newInputStream(source)) {
            manifest.read(in);
        }
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        manifest.write(bytes);
        return bytes.toByteArray();
    }

    private static void write(ZipOutputStream zip, String name, byte[] bytes, long time) throws IOException {
        ZipEntry entry = new ZipEntry(name);
        entry.setTime(time);
        zip.putNextEntry(entry);
        zip.write(bytes);
        zip.closeEntry();
    }
}
