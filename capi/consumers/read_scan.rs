// A Rust host of the C interface, with its own extern "C" declarations and
// no crates: reads the scan of the file the example host writes
// (examples/write_inspection) and checks every sample against what the
// example wrote (the file capi_expected_scan makes).
//
//   read_scan inspection.A01 expected_scan.bin      (built with rustc -l velfile_c)
use std::ffi::{CStr, CString};
use std::os::raw::{c_char, c_int};

const ALL: u32 = u32::MAX;
const TYPE_INT16: c_int = 4;

#[repr(C)]
#[derive(Default)]
struct Layout {
    second_count: u32,
    first_count: u32,
    sample_count: u32,
    sample_type: u32,
    axes: [f32; 6],
}

extern "C" {
    fn velfile_status_name(status: c_int) -> *const c_char;
    fn velfile_last_error(buffer: *mut c_char, length: usize, needed: *mut usize) -> c_int;
    fn velfile_open(path: *const c_char, file: *mut u64) -> c_int;
    fn velfile_close(file: u64) -> c_int;
    fn velfile_group_by_path(file: u64, path: *const c_char, group: *mut u64) -> c_int;
    fn velfile_data_open(group: u64, data: *mut u64) -> c_int;
    fn velfile_data_layout_of(data: u64, layout: *mut Layout, data_class: *mut i32) -> c_int;
    fn velfile_data_read(data: u64, s0: u32, sc: u32, f0: u32, fc: u32, k0: u32, kc: u32, kind: c_int,
                         buffer: *mut i16, length: usize, needed: *mut usize) -> c_int;
    fn velfile_data_has_data(data: u64, s0: u32, sc: u32, f0: u32, fc: u32, mask: *mut u8, length: usize,
                             needed: *mut usize) -> c_int;
}

// A call's status as a Result with the status's name and sentence.
fn check(status: c_int) -> Result<(), String> {
    if status == 0 {
        return Ok(());
    }
    let mut text = vec![0 as c_char; 1024];
    unsafe {
        velfile_last_error(text.as_mut_ptr(), text.len(), std::ptr::null_mut());
        let name = CStr::from_ptr(velfile_status_name(status)).to_string_lossy();
        Err(format!("{}: {}", name, CStr::from_ptr(text.as_ptr()).to_string_lossy()))
    }
}

fn run(path: &str, expected: &str) -> Result<u64, String> {
    let (mut file, mut group, mut data) = (0u64, 0u64, 0u64);
    let mut layout = Layout::default();
    let mut needed = 0usize;
    let path = CString::new(path).map_err(|e| e.to_string())?;
    let scan = CString::new("0/Scan A").unwrap();
    unsafe {
        check(velfile_open(path.as_ptr(), &mut file))?;
        check(velfile_group_by_path(file, scan.as_ptr(), &mut group))?;
        check(velfile_data_open(group, &mut data))?;
        check(velfile_data_layout_of(data, &mut layout, std::ptr::null_mut()))?;
        check(velfile_data_read(data, 0, ALL, 0, ALL, 0, ALL, TYPE_INT16, std::ptr::null_mut(), 0, &mut needed))?;
        let mut samples = vec![0i16; needed];
        check(velfile_data_read(data, 0, ALL, 0, ALL, 0, ALL, TYPE_INT16, samples.as_mut_ptr(), samples.len(),
                                &mut needed))?;
        let points = (layout.second_count * layout.first_count) as usize;
        let mut mask = vec![0u8; points];
        check(velfile_data_has_data(data, 0, ALL, 0, ALL, mask.as_mut_ptr(), mask.len(), &mut needed))?;
        check(velfile_close(file))?;
        // What the example wrote: every point's samples (zeros without
        // data), then a byte per point, 1 for data.
        let want = std::fs::read(expected).map_err(|e| e.to_string())?;
        let q = layout.sample_count as usize;
        let mut wrong = if want.len() == samples.len() * 2 + points { 0u64 } else { 1 };
        for (i, pair) in want.chunks_exact(2).take(samples.len()).enumerate() {
            if samples[i] != i16::from_ne_bytes([pair[0], pair[1]]) {
                wrong += 1;
            }
        }
        for (i, m) in want.iter().skip(samples.len() * 2).enumerate().take(points) {
            if mask[i] != *m {
                wrong += 1;
            }
        }
        println!("scan: {} x {} points of {} int16 samples, {} wrong", layout.second_count,
                 layout.first_count, q, wrong);
        Ok(wrong)
    }
}

fn main() {
    let args: Vec<String> = std::env::args().collect();
    if args.len() != 3 {
        eprintln!("usage: read_scan FILE EXPECTED");
        std::process::exit(2);
    }
    match run(&args[1], &args[2]) {
        Ok(0) => {}
        Ok(_) => std::process::exit(1),
        Err(e) => {
            eprintln!("{}", e);
            std::process::exit(1);
        }
    }
}
