package tavrel.quillet.wrapper;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Map;

/**
 * Stand-in for Quillet's wrapper: it signs nothing. It reads the JSON job on
 * standard input, checks the document, writes a copy beside it with a plain
 * marker appended (the stamp image's size recorded) and answers "::" + that
 * copy's path on standard output, exit code 0.
 *
 * The job's "reason" can ask for the other answers, so that every branch of
 * the plug-in can be reached:
 *   "salir:N"      ends with exit code N and answers nothing;
 *   "error:TEXTO"  answers TEXTO (an error text), exit code 0;
 *   "desaparecer"  deletes the copy before answering its path;
 *   "silencio"     answers nothing, exit code 0;
 *   "stderr:TEXTO" writes TEXTO on standard error, then signs as usual;
 *   "colgar"       writes "pid N" (its process id) on standard error and never
 *                  ends: a signer that hangs, until it is stopped.
 */
public final class StandaloneMain {
    static final String MARKER = "% ZELVO STAND-IN SIGNER: NOT A SIGNATURE";

    private StandaloneMain() {
    }

    public static void main(String[] args) throws IOException {
        PrintStream out = new PrintStream(System.out, true, "UTF-8");
        String answer;
        try {
            answer = run(readAll(System.in));
        } catch (IllegalArgumentException e) {
            answer = "Trabajo de firma no válido: " + e.getMessage();
        }
        if (answer != null) {
            out.print(answer);
            out.flush();
        }
    }

    private static String run(String jobText) throws IOException {
        Map<String, String> job = Job.parse(jobText);
        String reason = job.getOrDefault("reason", "");
        if (reason.startsWith("salir:")) {
            System.exit(Integer.parseInt(reason.substring(6).trim()));
        }
        if (reason.startsWith("error:")) {
            return reason.substring(6);
        }
        if (reason.equals("silencio")) {
            return null;
        }
        if (reason.equals("colgar")) {
            System.err.println("pid " + ProcessHandle.current().pid());
            System.err.flush();
            hang();
        }
        if (reason.startsWith("stderr:")) {
            System.err.print(reason.substring(7));
            System.err.flush();
        }

        String inputPath = job.get("inputFilePath");
        if (inputPath == null || inputPath.isEmpty()) {
            return "El trabajo no indica el documento";
        }
        Path input = Paths.get(inputPath);
        if (!Files.isRegularFile(input)) {
            return "No se encuentra el documento " + inputPath;
        }
        byte[] document = Files.readAllBytes(input);
        if (!startsWith(document, "%PDF-")) {
            return "El documento no es un PDF";
        }
        long stampBytes = 0;
        String stampPath = job.get("stampImagePath");
        if (stampPath != null && !stampPath.isEmpty()) {
            Path stamp = Paths.get(stampPath);
            if (!Files.isRegularFile(stamp)) {
                return "No se encuentra la imagen del sello " + stampPath;
            }
            stampBytes = Files.size(stamp);
        }

        String name = input.getFileName().toString();
        String base = name.endsWith(".pdf") ? name.substring(0, name.length() - 4) : name;
        Path signed = input.resolveSibling(base + "-firmado.pdf");
        StringBuilder marker = new StringBuilder("\n").append(MARKER).append('\n');
        marker.append("% reason=").append(oneLine(reason)).append('\n');
        marker.append("% stampImageBytes=").append(stampBytes).append('\n');
        marker.append("% log4jpath=").append(oneLine(System.getProperty("log4jpath", ""))).append('\n');
        marker.append("% %%EOF\n");
        ByteArrayOutputStream copy = new ByteArrayOutputStream(document.length + marker.length() + 16);
        copy.write(document);
        copy.write(marker.toString().getBytes(StandardCharsets.UTF_8));
        Files.write(signed, copy.toByteArray());
        if (reason.equals("desaparecer")) {
            Files.delete(signed);
        }
        return "::" + signed.toAbsolutePath();
    }

    private static void hang() {
        while (true) {
            try {
                Thread.sleep(60_000);
            } catch (InterruptedException e) {
                // Only a signal ends it.
            }
        }
    }

    private static String oneLine(String s) {
        return s.replace('\r', ' ').replace('\n', ' ');
    }

    private static boolean startsWith(byte[] bytes, String prefix) {
        byte[] p = prefix.getBytes(StandardCharsets.US_ASCII);
        if (bytes.length < p.length) {
            return false;
        }
        for (int i = 0; i < p.length; i++) {
            if (bytes[i] != p[i]) {
                return false;
            }
        }
        return true;
    }

    private static String readAll(InputStream in) throws IOException {
        ByteArrayOutputStream buffer = new ByteArrayOutputStream();
        byte[] chunk = new byte[8192];
        int n;
        while ((n = in.read(chunk)) > 0) {
            buffer.write(chunk, 0, n);
        }
        return new String(buffer.toByteArray(), StandardCharsets.UTF_8);
    }
}
