import tavrel.quillet.QuilletWrapper;

import java.nio.charset.StandardCharsets;

/**
 * Loads the signing plug-in into this JVM (argument: its path) and asks it
 * for the Quillet jar. Prints "path:" or "exception:<class>:" followed by the
 * UTF-8 bytes of the answer in hex, so that no console encoding gets in the way.
 * A second argument "sin-setPath" passes an object without setPath.
 */
public final class QuilletJarProbe {
    public static final class Holder {
        String path;

        public void setPath(String path) {
            this.path = path;
        }
    }

    public static void main(String[] args) {
        System.load(args[0]);
        boolean plain = args.length > 1 && args[1].equals("sin-setPath");
        Holder holder = new Holder();
        try {
            QuilletWrapper.getQuilletJar(plain ? new Object() : holder);
            System.out.println("path:" + hex(holder.path));
        } catch (Exception e) {
            System.out.println("exception:" + e.getClass().getName() + ":" + hex(e.getMessage()));
        }
    }

    private static String hex(String s) {
        if (s == null) {
            return "null";
        }
        StringBuilder out = new StringBuilder();
        for (byte b : s.getBytes(StandardCharsets.UTF_8)) {
            out.append(String.format("%02x", b & 0xff));
        }
        return out.toString();
    }
}
