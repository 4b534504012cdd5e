"""xarray's engine "velfile": lazy Datasets of data groups, of one file and of a campaign."""
import os

import numpy as np
import pytest
import xarray as xr

import velfile

SAMPLE = os.path.join(os.path.dirname(__file__), "data", "sample-s390x.A01")


def _write(path, seed, shape=(6, 5, 9)):
    samples = np.random.default_rng(seed).integers(-500, 500, size=shape, dtype=np.int16)
    with velfile.create(path) as f:
        f.create_group("root").create_group("Scan").write_data(
            samples, has_data=samples[..., 0] % 4 != 0, axes=[(0.5, 1.0), (2.0, 0.0), (0.02, 0.0)])
    return path


@pytest.mark.parametrize("group", ["0/Scan", "0/Peaks"])
def test_both_byte_orders_lazily(tmp_path, group):
    local = _write(str(tmp_path / "a.A01"), 1)
    for path, g in ((SAMPLE, group), (local, "0/Scan")):
        with velfile.open(path) as f:
            data = f[g].data
            want, mask = data.samples, data.has_data
        ds = xr.open_dataset(path, group=g)  # the engine found by the file's first bytes
        assert not isinstance(ds.samples.variable._data, np.ndarray)  # nothing read yet
        assert np.array_equal(ds.samples[1:, ::2, -3:].values, want[1:, ::2, -3:])
        assert np.array_equal(ds.has_data.values, mask) and ds.samples.dtype == want.dtype
        chunked = xr.open_dataset(path, engine="velfile", group=g, chunks={"second": 1})
        assert chunked.samples.data.npartitions == want.shape[0]
        assert np.array_equal(chunked.samples.values, want)
    ds.to_netcdf(str(tmp_path / "a.nc"), engine="scipy")  # the attributes netCDF 3 holds
    assert float(ds.sample[50 % ds.sample.size]) == round(0.02 * (50 % ds.sample.size), 2)


def test_the_group_named_or_the_only_one(tmp_path):
    with pytest.raises(velfile.InvalidError, match="2 data groups.*'0/Scan', '0/Peaks'"):
        xr.open_dataset(SAMPLE, engine="velfile")
    assert xr.open_dataset(_write(str(tmp_path / "a.A01"), 2)).attrs["group"] == "0/Scan"
    assert not velfile.xarray_backend.VelfileBackendEntrypoint().guess_can_open(__file__)


def test_a_campaign_nested(tmp_path):
    paths = [_write(str(tmp_path / f"f{i}.A01"), i) for i in range(5)]
    ds = xr.open_mfdataset(paths, engine="velfile", group="0/Scan", combine="nested", concat_dim="file")
    want = np.stack([velfile.open(p)["0/Scan"].data.samples for p in paths])
    peak = abs(ds.samples.astype("f8")).max("sample").where(ds.has_data)
    assert np.allclose(peak.compute(scheduler="threads").values,
                       np.where(ds.has_data.values, abs(want.astype("f8")).max(-1), np.nan), equal_nan=True)
