// A C# host of the C interface through P/Invoke alone: opens the file the
// example host writes (examples/write_inspection), reads its scan into a
// short[] and checks every sample against what the example wrote (the
// file capi_expected_scan makes), reads a gate's fields by name, and prints
// the sentence of a missing group.
//
//   mono ReadInspection.exe inspection.A01 expected_scan.bin   (libvelfile_c on the library path)
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

static class Velfile {
  const string Lib = "velfile_c";
  public const int Ok = 0, NotFound = 4, TypeInt16 = 4;
  public const uint All = uint.MaxValue;

  [StructLayout(LayoutKind.Sequential)]
  public struct Layout {
    public uint SecondCount, FirstCount, SampleCount, SampleType;
    public float SecondFactor, SecondOffset, FirstFactor, FirstOffset, SampleFactor, SampleOffset;
  }

  // Text goes in as zero-terminated UTF-8 bytes and comes back the same way.
  public static byte[] Utf8(string s) { return Encoding.UTF8.GetBytes(s + "\0"); }

  [DllImport(Lib)] public static extern IntPtr velfile_status_name(int status);
  [DllImport(Lib)] public static extern int velfile_last_error(byte[] buffer, UIntPtr length, out UIntPtr needed);
  [DllImport(Lib)] public static extern int velfile_open(byte[] path, out ulong file);
  [DllImport(Lib)] public static extern int velfile_close(ulong file);
  [DllImport(Lib)] public static extern int velfile_release(ulong handle);
  [DllImport(Lib)] public static extern int velfile_group_by_path(ulong file, byte[] path, out ulong group);
  [DllImport(Lib)] public static extern int velfile_data_open(ulong group, out ulong data);
  [DllImport(Lib)] public static extern int velfile_data_layout_of(ulong data, out Layout layout, out int dataClass);
  [DllImport(Lib)]
  public static extern int velfile_data_read(ulong data, uint secondStart, uint secondCount, uint firstStart,
                                             uint firstCount, uint sampleStart, uint sampleCount, int type,
                                             short[] buffer, UIntPtr length, out UIntPtr needed);
  [DllImport(Lib)]
  public static extern int velfile_data_has_data(ulong data, uint secondStart, uint secondCount, uint firstStart,
                                                 uint firstCount, byte[] mask, UIntPtr length, out UIntPtr needed);
  [DllImport(Lib)] public static extern int velfile_descriptor_read(ulong group, byte[] module, out ulong descriptor);
  [DllImport(Lib)] public static extern int velfile_descriptor_field_count(ulong descriptor, out uint count);
  [DllImport(Lib)]
  public static extern int velfile_descriptor_field(ulong descriptor, uint index, byte[] name, UIntPtr length,
                                                    out UIntPtr needed, out int kind, out uint capacity);
  [DllImport(Lib)]
  public static extern int velfile_descriptor_get_number(ulong descriptor, byte[] field, out double value);

  public static string LastError() {
    UIntPtr needed;
    velfile_last_error(null, UIntPtr.Zero, out needed);
    var text = new byte[(int)needed];
    velfile_last_error(text, needed, out needed);
    return Encoding.UTF8.GetString(text, 0, text.Length - 1);
  }

  // Throws with the status's name and sentence unless the call succeeded.
  public static void Check(int status, string what) {
    if (status != Ok)
      throw new Exception(what + ": " + Marshal.PtrToStringAnsi(velfile_status_name(status)) + ": " + LastError());
  }
}

static class ReadInspection {
  static int Main(string[] args) {
    try {
      ulong file, group, data, gate;
      Velfile.Check(Velfile.velfile_open(Velfile.Utf8(args[0]), out file), "open");

      Velfile.Check(Velfile.velfile_group_by_path(file, Velfile.Utf8("0/Scan A"), out group), "scan");
      Velfile.Check(Velfile.velfile_data_open(group, out data), "data group");
      Velfile.Layout layout;
      int dataClass;
      Velfile.Check(Velfile.velfile_data_layout_of(data, out layout, out dataClass), "layout");
      UIntPtr needed;
      Velfile.Check(Velfile.velfile_data_read(data, 0, Velfile.All, 0, Velfile.All, 0, Velfile.All,
                                              Velfile.TypeInt16, null, UIntPtr.Zero, out needed), "size");
      var samples = new short[(long)needed];
      Velfile.Check(Velfile.velfile_data_read(data, 0, Velfile.All, 0, Velfile.All, 0, Velfile.All,
                                              Velfile.TypeInt16, samples, needed, out needed), "samples");
      var mask = new byte[layout.SecondCount * layout.FirstCount];
      Velfile.Check(Velfile.velfile_data_has_data(data, 0, Velfile.All, 0, Velfile.All, mask, (UIntPtr)mask.Length,
                                                  out needed), "marks");
      // What the example wrote: every point's samples (zeros without data),
      // then a byte per point, 1 for data.
      byte[] expected = File.ReadAllBytes(args[1]);
      long wrong = expected.Length == samples.Length * 2 + mask.Length ? 0 : 1;
      var want = new short[samples.Length];
      Buffer.BlockCopy(expected, 0, want, 0, Math.Min(expected.Length, want.Length * 2));
      for (long i = 0; i < samples.Length; ++i)
        if (samples[i] != want[i]) ++wrong;
      for (int i = 0; i < mask.Length && samples.Length * 2 + i < expected.Length; ++i)
        if (mask[i] != expected[samples.Length * 2 + i]) ++wrong;
      uint q = layout.SampleCount;
      Console.WriteLine("scan: class {0}, {1} x {2} points of {3} int16 samples, {4} wrong", dataClass,
                        layout.SecondCount, layout.FirstCount, q, wrong);

      Velfile.Check(Velfile.velfile_group_by_path(file, Velfile.Utf8("0/Channel 1/Gate A"), out group), "gate");
      Velfile.Check(Velfile.velfile_descriptor_read(group, Velfile.Utf8("gate"), out gate), "gate descriptor");
      uint fields;
      Velfile.Check(Velfile.velfile_descriptor_field_count(gate, out fields), "fields");
      var name = new byte[64];
      int kind;
      uint capacity;
      Velfile.Check(Velfile.velfile_descriptor_field(gate, 1, name, (UIntPtr)name.Length, out needed, out kind,
                                                     out capacity), "field 1");
      double start, width;
      Velfile.Check(Velfile.velfile_descriptor_get_number(gate, Velfile.Utf8("item6"), out start), "item6");
      Velfile.Check(Velfile.velfile_descriptor_get_number(gate, Velfile.Utf8("item7"), out width), "item7");
      Console.WriteLine("gate A: {0} fields ({1}, ...), item6 = {2}, item7 = {3}", fields,
                        Encoding.UTF8.GetString(name, 0, (int)needed - 1), start, width);
      if (start != 10 || width != 15) ++wrong;
      Velfile.velfile_release(gate);

      int status = Velfile.velfile_group_by_path(file, Velfile.Utf8("0/Channel 9"), out group);
      string error = Velfile.LastError();
      Console.WriteLine("missing group: {0}: {1}", Marshal.PtrToStringAnsi(Velfile.velfile_status_name(status)), error);
      if (status != Velfile.NotFound || !error.Contains("Channel 9")) ++wrong;
      Velfile.Check(Velfile.velfile_close(file), "close");
      return wrong == 0 ? 0 : 1;
    } catch (Exception e) {
      Console.Error.WriteLine(e.Message);
      return 1;
    }
  }
}
